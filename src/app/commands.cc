#include "app/commands.h"

#include <cstring>

void MakeKeys(KeyTable& keys) {
  for (int id = 0; id < kCommandCount; ++id) keys[id].name = kCommands[id].name;
}

void SetDefaultValues(KeyTable& keys) {
  for (int id = 0; id < kCommandCount; ++id) {
    keys[id].value[0] = kCommands[id].default_key;
    keys[id].value[1] = '\0';
  }
}

int FindCommand(const KeyTable& keys, const char* input) {
  for (CommandId id : kDispatchOrder) {
    if (std::strcmp(input, keys[id].value) != 0) continue;
    if (input[0] != '!' || kCommands[id].Has(kKeyMayBeBang)) return id;
  }
  return -1;
}

bool ChangesDocument(int id) {
  return id < 0 || kCommands[id].Has(kChangesDocument);
}
