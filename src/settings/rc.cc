#include "settings/rc.h"

int ReadRC(Editor&, GridSize&) { return 0; }
void MakeRC(const KeyTable&, const GridSize&, const char*, Io&) {}
