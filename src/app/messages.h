// Every text the editor prints, in one place, so that the wording stays the same wherever it
// is used and tests can compare exact output. A text without a placeholder is a whole line
// (or lines) without its last line end, printed with Line(); a text with one is a printf
// format, printed with Print(), and carries its own line ends.
#pragma once

namespace msg {

// Start-up and the command loop.
inline constexpr const char* kBanner = "Morvax %s\n";
inline constexpr const char* kHint = "\nEnter '%s' for help or '%s' to quit\n";
inline constexpr const char* kQuitConfirm = "Enter 'q' again to quit or anything else to continue";
inline constexpr const char* kGridTooLarge =
    "Buffer of %i lines of %i characters is too large; using %i lines of %i characters\n";
inline constexpr const char* kNoMemory =
    "Not enough memory for a buffer of %i lines of %i characters\n";
inline constexpr const char* kNoMemoryToGoOn = "Not enough memory to go on";
inline constexpr const char* kEditingOff = "Line editing is off: %s\n";  // on standard error

inline constexpr const char* kInterrupted = "\nInterrupted";
inline constexpr const char* kTextAfterNulDropped = "Text after a NUL byte was dropped";
inline constexpr const char* kUnsavedAtEnd =
    "\nThe document has unsaved changes: end the input once more to quit without saving";
inline constexpr const char* kRecoveryWritten = "\nUnsaved document written to %s\n";
inline constexpr const char* kRecoveryFailed =
    "\nThe unsaved document could not be written to %s (%s) nor to %s (%s)\n";
inline constexpr const char* kRecoveryInHome = "$HOME/morvax.hup";  // as said when HOME is no use
inline constexpr const char* kHomeNotSet = "HOME is not set";
inline constexpr const char* kHomeNotAbsolute = "HOME is not an absolute path";
inline constexpr const char* kEarlierRecovery = "Unsaved text from an earlier session is in %s\n";
inline constexpr const char* kMoreRecovery = "and %d more\n";
// The journal of unsaved changes, at a terminal.
inline constexpr const char* kJournalFailed =
    "The journal of unsaved changes could not be written (%s); editing goes on without it\n";
inline constexpr const char* kJournalBaseChanged =
    "%s changed after that session read it: the recovery file holds every line the session "
    "wrote, in order\n";
inline constexpr const char* kJournalCut =
    "The journal of that session ends in %zu bytes that are not a whole record; they are not in "
    "the recovery file\n";
inline constexpr const char* kJournalNotReplayed =
    "The journal %s of an earlier session could not be replayed: %s\n";
inline constexpr const char* kOtherSession =
    "%s is being edited in another session (pid %d, since %s); its unsaved changes are not in "
    "this copy\n";

// View.
inline constexpr const char* kHeader = "\nEditing %i:%i %s\n\n";

// Navigation.
inline constexpr const char* kPageLengthPrompt = "Enter number of lines to display";
inline constexpr const char* kJumpPrompt = "Enter jump string";
inline constexpr const char* kNotFoundInLine = "String not found in line %i\n";
inline constexpr const char* kNotFound = "String not found";
inline constexpr const char* kLockOn = "Line Lock On";
inline constexpr const char* kLockOff = "Line Lock Off";
inline constexpr const char* kGoToLine = "Go to which line?";
inline constexpr const char* kGoToPos = "Go to which position?";

// Text entry and insertion.
inline constexpr const char* kInvalidLine = "Invalid Line Number";
inline constexpr const char* kAtEndOfLine = "At End Of Line";
inline constexpr const char* kTextShortened = "Text was shortened to fit onto line";
inline constexpr const char* kInsertPrompt = "Enter string to insert";
inline constexpr const char* kInsertTooLongForPosition =
    "Insert was truncated because it is too long for the position";
inline constexpr const char* kInsertLineExceeded =
    "Insert was truncated because the line would have exceeded %i\n";

// Clipboard.
inline constexpr const char* kCopyPrompt = "Copy how many characters?";
inline constexpr const char* kCutPrompt = "Enter cut size";
inline constexpr const char* kNothingToCopy = "There is nothing to copy";
inline constexpr const char* kCopyShortened = "Copy size will be shortened to %i\n";
inline constexpr const char* kMaxCutSize = "Maximum cut size is %i\n";
inline constexpr const char* kNothingToCut = "There is nothing to cut at this position";
inline constexpr const char* kCutShortened = "Cut size will be shortened to %i\n";
inline constexpr const char* kNothingToPaste = "There is nothing to paste";
inline constexpr const char* kPasteShortened = "Paste string was shortened to fit onto line";
inline constexpr const char* kCopyNegative = "Copy size cannot be negative";
inline constexpr const char* kCutNegative = "Cut size cannot be negative";

// Line commands.
inline constexpr const char* kMovePrompt = "Move line %i to where?\n";
inline constexpr const char* kCopyLinePrompt = "Copy line %i to where?\n";
inline constexpr const char* kMoveBadDestination = "Destination line is not valid";
inline constexpr const char* kCopyBadDestination = "Desination line is not valid";  // sic
inline constexpr const char* kNoRoomForLine = "No room for a new line: the last line holds text";
inline constexpr const char* kNoMemoryForChange = "Not enough memory for this change";

// Loading.
inline constexpr const char* kOpenPrompt1 =
    "Enter a filename to open a new file and discard the buffer in memory";
inline constexpr const char* kOpenPrompt2 = "Enter 's' to first save the current buffer in memory";
inline constexpr const char* kOpenPrompt3 = "Enter 'x' to not open a file and return";
inline constexpr const char* kOpenNext = "Next, enter a new filename to open";
inline constexpr const char* kFileNotFound = "File %s not found!\n";
inline constexpr const char* kOpened = "Opened %s\n";
inline constexpr const char* kReadBytes = "Read %i bytes, ";
inline constexpr const char* kCouldNotRead = "Could not read %s: %s\n";
inline constexpr const char* kLineSplit = "WARNING!  Line %i is being split\n";
inline constexpr const char* kLinesGenerated = "%i Lines Generated\n";
inline constexpr const char* kPartialLoad =
    "\nWarning!! Only %.1f percent of the data was loaded!\n";
inline constexpr const char* kPartialLoad2 =
    "The unloaded data will be lost if you save to the same filename!";
inline constexpr const char* kPartialLoad3 = "Do you wish to continue (Y,n)?";
inline constexpr const char* kPartialLoad4 =  // the settings file in use
    "If not, restart with more lines by editing the %s file.\n";
inline constexpr const char* kNameTooLong = "File name is longer than 255 characters";
inline constexpr const char* kNameHoldsNul = "File name holds a NUL byte";
// The questions about what another program did since this session read or wrote the file.
inline constexpr const char* kChangedOnDisk =
    "%s was changed by another program since it was read; overwrite it? (y/n)\n";
inline constexpr const char* kOwnerChanged =
    "%s was given another owner or group (%s) since it was read; overwrite it? (y/n)\n";
inline constexpr const char* kReplacedOnDisk =
    "%s was replaced by another file since it was read; overwrite it? (y/n)\n";
inline constexpr const char* kReplacedByOther =
    "%s was replaced by another file, owned by %s, since it was read; overwrite it? (y/n)\n";
inline constexpr const char* kCreatedOnDisk =
    "%s was created by another program since this session found it missing; overwrite it? "
    "(y/n)\n";
inline constexpr const char* kSavedByOtherSession =
    "%s was saved by another session (pid %d) since it was read here; overwrite it? (y/n)\n";
inline constexpr const char* kForeignFolder =
    "A folder on the way to %s was made by %s since this session found it missing; save there? "
    "(y/n)\n";
inline constexpr const char* kLeadsElsewhere =  // the name, where it leads, the link
    "%s now leads to %s through the link %s, not to the file that was read; save there? (y/n)\n";
inline constexpr const char* kFolderMoved =  // the name, its folder now
    "%s now lies in %s, not in the folder the file was read from; save there? (y/n)\n";
inline constexpr const char* kFolderMovedToOther =  // the name, its folder now, the folder's owner
    "%s now lies in %s, a folder of %s's, not in the one the file was read from; save there? "
    "(y/n)\n";
inline constexpr const char* kThroughOthersLink =  // the name, the link's owner, where it leads
    "%s is a link of %s's to %s, where no file is yet; make it there? (y/n)\n";
inline constexpr const char* kIsLinkTo = "%s is a link to %s\n";
inline constexpr const char* kRefusedLink =
    "it leads through a link that another user may have set";
inline constexpr const char* kFolderRemoved = "its folder was removed";
inline constexpr const char* kNothingSaved = "Nothing was saved";
inline constexpr const char* kSplitQuestion =
    "%s had lines longer than %d characters, which were split when it was read; save them split? "
    "(y/n)\n";
inline constexpr const char* kEarlierSaveLeft = "An earlier save of %s left %s\n";

// Saving.
inline constexpr const char* kSaveNamePrompt = "Enter a filename to save to";
inline constexpr const char* kSaveAsPrompt = "Enter a filename to save to, or 'x' to return";
inline constexpr const char* kFileExists = "The file already exists.";
inline constexpr const char* kNewNameOrOverwrite = "Enter a new filename or 'o' to overwrite";
inline constexpr const char* kFileExistsAgain = "File exists. Try again";
inline constexpr const char* kOverwriteQuestion = "%s already exists; overwrite it? (y/n)\n";
inline constexpr const char* kSaved = "Saved to %s\n";
inline constexpr const char* kCouldNotSave = "Could not save to %s: %s\n";
inline constexpr const char* kMarkedImmutable = "it is marked immutable";
inline constexpr const char* kMarkedAppendOnly = "it is marked append-only";
// A new name in a marked folder: nothing was made there.
inline constexpr const char* kFolderMarkedImmutable = "the folder is marked immutable";
inline constexpr const char* kFolderMarkedAppendOnly = "the folder is marked append-only";
inline constexpr const char* kCouldNotSaveKept =
    "Could not save to %s: %s; its old content is in %s\n";
inline constexpr const char* kChangedWhileSaving =
    "Could not save to %s: the file changed while it was being saved\n";
inline constexpr const char* kCouldNotRemoveBackup = "Could not remove the backup %s: %s\n";
inline constexpr const char* kNoNameGiven = "No file name given; nothing saved";

// Settings file.
inline constexpr const char* kMakingRc = "Making RC file: %s\n";
inline constexpr const char* kReadingRc = "Reading RC file: %s\n";
inline constexpr const char* kCannotMakeRc = "Cannot make RC file";
inline constexpr const char* kCannotReadRc = "Cannot read RC file: %s\n";
inline constexpr const char* kIgnoringRc = "Ignoring RC file %s: %s\n";
// Why a settings file is ignored, in the order the checks apply.
inline constexpr const char* kRcNotRegular = "not a regular file";
inline constexpr const char* kRcTooLarge = "larger than 64 KiB";
inline constexpr const char* kRcForeignOwner = "owned by another user";
inline constexpr const char* kRcWritableByOthers = "writable by others";
inline constexpr const char* kRcWritableByGroup = "writable by its group";
inline constexpr const char* kRcFolderWritable = "its folder is writable by others";

// Launch command.
inline constexpr const char* kCommandInMemory = "Command in memory = %s\n";
inline constexpr const char* kNoCommand = "There is no command in memory";
inline constexpr const char* kCommandTooLong = "Command is longer than 255 characters";
inline constexpr const char* kCommandPrompt = "Enter new command or [enter] to keep current one";
inline constexpr const char* kConsentQuestion =
    "The launch command comes from %s:\n  %s\nRun it? (y/n)\n";

// Help menu.
inline constexpr const char* kLimits = "\nLimits:  Line length = %i     Total Lines = %i\n";

}  // namespace msg
