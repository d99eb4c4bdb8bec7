// The commands that move the cursor or change how the view looks. None of them
// touches the document or the undo record.
#pragma once

struct Editor;

void PositionBack(Editor& ed);
void PositionForw(Editor& ed);
void PositionDown(Editor& ed);  // to the previous line (towards line 1)
void PositionUp(Editor& ed);    // to the next line
void PositionBeg(Editor& ed);
void PositionEnd(Editor& ed);
void PageBack(Editor& ed);
void PageForw(Editor& ed);
void PageLength(Editor& ed);
void JumpLine(Editor& ed);
void JumpDoc(Editor& ed);
void LockTog(Editor& ed);
void GoToLine(Editor& ed);
void GoToPos(Editor& ed);
void AnchorGo(Editor& ed);
void AnchorSet(Editor& ed);
void NumTog(Editor& ed);

/// The moves of GoToLine and GoToPos, also taken by a "+LINE,COLUMN" argument: line or column
/// `value`, counted from 1. A value outside the grid changes nothing and says nothing.
void MoveToLine(Editor& ed, int value);
void MoveToColumn(Editor& ed, int value);
