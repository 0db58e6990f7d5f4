// The command-line parser.
#include "frontend/cmdline.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <initializer_list>
#include <string>

#include "base/charmap.h"
#include "base/console.h"
#include "base/errors.h"
#include "base/nametext.h"
#include "directory/dirart.h"
#include "directory/listing.h"
#include "disk/entrychains.h"
#include "frontend/numbers.h"

// The settings of a -w before any -w... option: the host name's entry, the drive's placement.
const InsertSettings kDriveInsert{{}, -1, 0, -1, 0, 0};

namespace {

// True when the argument is `name`. Most arguments differ from most option
// names in their first two characters, which are looked at before the rest.
bool sameArg(const char *arg, const char *name) {
    return arg[0] == name[0] && (arg[0] == '\0' || (arg[1] == name[1] && std::strcmp(arg, name) == 0));
}

// Cursor over argv: the options below consume their values through it.
struct ArgCursor {
    int argc;
    char **argv;
    int next;           // index of the next unread argument
    bool optionsEnded;  // "--" was read: every later argument is a plain one
    int rangeOptions;   // -rd and -sd met so far: one range per run
    int textGlyphs;     // the glyph set texts are read in: that of the last -U/-Ul, else code page 437
    InsertSettings insert;      // what the -w... options read so far set for the next -w
    const char *insertOption;   // the first of them since the last -w, or nullptr

    bool hasNext(int count = 1) const { return next + count <= argc; }
    const char *take() { return argv[next++]; }
};

void applyViewLetters(const char *arg) {
    if (std::strlen(arg) == 2) exitWithError(1, "ERROR: Missing sub option for -v.");
    for (const char *c = arg; *c; ++c) {
        switch (*c) {
            case 'o': options.rawCharacters = 1; break;
            case 'p': options.activeCharMap = alternativeCharMap; break;
            case 'a': options.showAll = 1; break;
            case 'n': options.showNumbers = 1; break;
            case 't': options.showTrackSector = 1; break;
            case 's': options.showStartAddress = 1; break;
            case 'f': options.showFileSize = 1; break;
            case 'b': options.showBlockCount = 1; break;
            case 'c': options.showChecksum = 1; break;
            default: break;
        }
    }
}

void setAllColumns() {
    options.csvOutput = options.showNumbers = options.showTrackSector = 1;
    options.showStartAddress = options.showFileSize = 1;
    options.showBlockCount = options.showChecksum = 1;
}

// True when an argument stands where an optional number may: a whole number,
// or the empty text, which is consumed so that parseNumberArg refuses it (an
// unset shell variable is neither taken as 0 nor read as a file name).
bool takenAsNumber(const char *arg) { return *arg == '\0' || isWholeNumber(arg); }

// The optional values ahead: how many of the `most` arguments from the
// `skip`-th unread one on are taken as numbers, up to the first that is none.
int numbersAhead(const ArgCursor &args, int skip, int most) {
    int count = 0;
    while (count < most && args.hasNext(skip + count + 1) && takenAsNumber(args.argv[args.next + skip + count]))
        ++count;
    return count;
}

// "-rd"/"-sd" num [last]: num is always consumed, last only when taken as a number.
void readEntryRange(ArgCursor &args, const char *missingMessage) {
    if (!args.hasNext()) exitWithError(1, "%s", missingMessage);
    ++args.rangeOptions;
    options.firstEntry = parseNumberArg(args.take(), 0, 255);
    if (numbersAhead(args, 0, 1) == 1)
        options.lastEntry = parseNumberArg(args.take(), 0, 255);
    else
        options.lastEntry = options.firstEntry;
}

// A -block number: within a D64's bounds as it always was; a whole number
// above them that some family has (a track up to 83, a sector up to 39) is
// taken for now, and settled against the image once it is loaded
// (settleViewPosition), with the same message. Every number is kept for that,
// also those of a -block that a later one overrides.
int readViewNumber(const char *text, int minimum, int d64Maximum, int mostOfAnyFamily, bool sector) {
    NumberReading reading = readNumber(text);
    int value = *text != '\0' && reading.whole && reading.value > d64Maximum && reading.value <= mostOfAnyFamily
                    ? reading.value
                    : parseNumberArg(text, minimum, d64Maximum);
    options.viewNumbers.push_back({value, sector});
    return value;
}

// "-block" [track [sector]]: each only when taken as a number. No track
// given: the header block (18/0, 40/0).
void readViewPosition(ArgCursor &args) {
    options.viewTrack = 0;
    options.viewSector = 0;
    int given = numbersAhead(args, 0, 2);
    if (given >= 1) options.viewTrack = readViewNumber(args.take(), 1, 40, kMostTracks, false);
    if (given == 2) options.viewSector = readViewNumber(args.take(), 0, 25, kMostSectors - 1, true);
}

// "-start" num addr: both consumed whatever they are.
void readStartChange(ArgCursor &args) {
    if (!args.hasNext(2)) exitWithError(1, "ERROR: Arguments for '-start' missing.");
    options.startEntry = parseNumberArg(args.take(), 0, 255);
    options.newStartAddress = parseNumberArg(args.take(), 0, 65535);
}

// "-x" [num [last]]: each only when taken as a number.
void readExtractRange(ArgCursor &args) {
    options.extractFirst = options.extractLast = -1;
    int given = numbersAhead(args, 0, 2);
    if (given >= 1) options.extractFirst = options.extractLast = parseNumberArg(args.take(), 0, 255);
    if (given == 2) options.extractLast = parseNumberArg(args.take(), 0, 255);
}

// "-copy" image [num [last]]: the image always, each number only when taken
// as one.
void readCopyRequest(ArgCursor &args, RunPaths &paths) {
    if (!args.hasNext() || !*args.argv[args.next]) exitWithMessage(1, "ERROR: Image name after '-copy' missing.");
    CopyRequest copy{args.take(), -1, -1, paths.inserts.size()};
    int given = numbersAhead(args, 0, 2);
    if (given >= 1) copy.first = copy.last = parseNumberArg(args.take(), 0, 255);
    if (given == 2) copy.last = parseNumberArg(args.take(), 0, 255);
    paths.copies.push_back(copy);
    options.copyEntries = options.imageModified = 1;
}

// The next argument as a name or id for a directory-art option, by the text
// rule with the glyphs of args.textGlyphs (a blank typed at `paddingPlace`
// gives 0xA0); an error exit naming the text and the option when it breaks
// the rule or gives fewer than minBytes bytes, and naming the character that
// stands for no disk code.
NameText decodeDiskText(const char *text, const ArgCursor &args, const char *option, int minBytes, int maxBytes,
                        int paddingPlace) {
    NameText name = decodeNameText(text, maxBytes, args.textGlyphs, paddingPlace);
    std::string why;
    switch (name.problem) {
        case NameTextProblem::None: break;
        case NameTextProblem::TooLong: why = "is too long"; break;
        case NameTextProblem::BadEscape: why = "has a '%' without two hex digits after it"; break;
        case NameTextProblem::BadCharacter:
            why = "holds a character that stands for no disk character, '" +
                  consoleOutsideText(std::string(text + name.problemAt, static_cast<size_t>(name.problemLength)),
                                     ConsoleStream::Error) + "'";
            break;
    }
    if (why.empty() && name.length < minBytes) why = name.length == 0 ? "is empty" : "is too short";
    std::string shown = consoleOutsideText(text, ConsoleStream::Error);
    if (!why.empty() && minBytes == maxBytes)
        exitWithMessage(1, "ERROR: The text '%s' for '%s' %s (%i bytes, %%XX for any byte).", shown.c_str(), option,
                        why.c_str(), maxBytes);
    if (!why.empty())
        exitWithMessage(1, "ERROR: The text '%s' for '%s' %s (%i to %i bytes, %%XX for any byte).", shown.c_str(),
                        option, why.c_str(), minBytes, maxBytes);
    return name;
}

NameText readDiskText(ArgCursor &args, const char *option, int minBytes, int maxBytes, int paddingPlace) {
    return decodeDiskText(args.take(), args, option, minBytes, maxBytes, paddingPlace);
}

// The blocks of a 1581 track, and the fewest tracks a partition the drive
// enters as a sub-directory spans.
constexpr int kPartitionTrackBlocks = 40;
constexpr int kPartitionLeastBlocks = 3 * kPartitionTrackBlocks;

// "-mkpart" NAME BLOCKS: the name by the text rule (1..16 bytes), the size in
// whole tracks of 40 blocks, at least 3 of them.
void readNewPartition(ArgCursor &args, RunPaths &paths) {
    if (!args.hasNext(2)) exitWithMessage(1, "ERROR: '-mkpart' takes a partition name and a size in blocks.");
    std::string shown = consoleOutsideText(args.argv[args.next], ConsoleStream::Error);
    NameText name = readDiskText(args, "-mkpart", 1, kNameLength, -1);
    int blocks = parseNumberArg(args.take(), 0, 65535);
    if (blocks % kPartitionTrackBlocks != 0 || blocks < kPartitionLeastBlocks)
        exitWithMessage(1, "ERROR: '-mkpart %s %i': a 1581 partition is whole tracks of %i blocks, at least %i "
                           "blocks (3 tracks), such as %i.", shown.c_str(), blocks, kPartitionTrackBlocks,
                        kPartitionLeastBlocks, blocks < kPartitionLeastBlocks ? kPartitionLeastBlocks
                                               : (blocks / kPartitionTrackBlocks + 1) * kPartitionTrackBlocks);
    paths.newPartitions.push_back({shown, name, blocks, paths.inserts.size(), paths.copies.size()});
    options.makePartitions = options.imageModified = 1;
}

// The bytes of a new disk's id, which the format command writes two of.
constexpr int kNewIdLength = 2;

// "-new" NAME,ID: the text up to the first ',' is the disk name, the rest the
// id, each by the text rule (%2C gives a ',' in the name).
void readNewDisk(ArgCursor &args) {
    if (!args.hasNext()) exitWithMessage(1, "ERROR: Disk name and id after '-new' missing.");
    std::string text = args.take();
    size_t comma = text.find(',');
    if (comma == std::string::npos)
        exitWithMessage(1, "ERROR: '-new' takes the disk name and id as NAME,ID (e.g. 'DEMO,23'), not '%s'.",
                        consoleOutsideText(text, ConsoleStream::Error).c_str());
    std::string name = text.substr(0, comma), id = text.substr(comma + 1);
    options.newName = decodeDiskText(name.c_str(), args, "-new", 0, kNameLength, -1);
    options.newId = decodeDiskText(id.c_str(), args, "-new", kNewIdLength, kNewIdLength, -1);
    options.newImage = options.imageModified = 1;
}

// "-40" MAP: a new D64 of 40 tracks, its map of 36-40 where SpeedDOS or
// DolphinDOS keeps it (any case).
void readForty(ArgCursor &args) {
    std::string map = args.hasNext() ? args.take() : "";
    for (char &c : map) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (map == "speeddos") options.newMapTracks40 = 1;
    else if (map == "dolphindos") options.newMapTracks40 = 2;
    else exitWithMessage(1, "ERROR: '-40' takes the map of tracks 36-40: speeddos or dolphindos.");
}

// "-clash" MODE: what every insert of the run does with a name the disk
// holds already (any case).
void readNameClash(ArgCursor &args) {
    std::string mode = args.hasNext() ? args.take() : "";
    for (char &c : mode) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (mode == "refuse") options.nameClash = NameClash::Refuse;
    else if (mode == "skip") options.nameClash = NameClash::Skip;
    else if (mode == "replace") options.nameClash = NameClash::Replace;
    else
        exitWithMessage(1, "ERROR: '-clash' takes what '-w' does with a name the disk holds: refuse, skip or "
                           "replace.");
}

// A -type argument: a listing form ("PRG<", "*SEQ") or a number 0..255; an
// error exit naming the text and the accepted forms when it is neither (a
// whole number out of range gets the number's own message).
int readTypeByte(const char *text, const char *option) {
    int type = typeByteOfForm(text);
    if (type >= 0) return type;
    // An empty argument (an unset shell variable) is no type and no number.
    if (!isWholeNumber(text) && *text != '\0')
        exitWithMessage(1, "ERROR: Unknown file type '%s' for '%s': give DEL, SEQ, PRG, USR or REL (any case), "
                         "optionally with '*' before it for a file left open and '<' after it for a locked "
                         "one, or a number 0 to 255.", consoleOutsideText(text, ConsoleStream::Error).c_str(), option);
    return parseNumberArg(text, 0, 255);
}

struct DirEditOption {
    const char *name;
    DirEditKind kind;
    int values;  // arguments it takes
};
const DirEditOption kDirEditOptions[] = {
    {"-rename", DirEditKind::Rename, 2}, {"-type", DirEditKind::Type, 2},     {"-blocks", DirEditKind::Blocks, 2},
    {"-move", DirEditKind::Move, 2},     {"-undel", DirEditKind::Undelete, 1}, {"-header", DirEditKind::Header, 1},
    {"-id", DirEditKind::Id, 1},
};
constexpr int kMaxEntryNumber = 65535;
constexpr int kIdPaddingPlace = 2;  // the id field's 0xA0, between the id and the DOS type

// The directory-art options: each takes its arguments whatever they are and
// is queued in command-line order. False when `arg` is none of them.
bool readDirectoryEdit(const char *arg, ArgCursor &args) {
    const DirEditOption *option = nullptr;
    for (const DirEditOption &candidate : kDirEditOptions)
        if (sameArg(arg, candidate.name)) option = &candidate;
    if (!option) return false;
    if (!args.hasNext(option->values))
        exitWithMessage(1, "ERROR: Argument%s for '%s' missing.", option->values > 1 ? "s" : "", arg);
    DirEdit edit{option->kind, -1, -1, NameText{}};
    if (option->kind != DirEditKind::Header && option->kind != DirEditKind::Id)
        edit.entry = parseNumberArg(args.take(), 0, kMaxEntryNumber);
    switch (option->kind) {
        case DirEditKind::Rename: edit.text = readDiskText(args, arg, 0, kNameLength, -1); break;
        case DirEditKind::Type: edit.value = readTypeByte(args.take(), arg); break;
        case DirEditKind::Blocks: edit.value = parseNumberArg(args.take(), 0, 65535); break;
        case DirEditKind::Move: edit.value = parseNumberArg(args.take(), 0, kMaxEntryNumber); break;
        case DirEditKind::Undelete: break;
        case DirEditKind::Header: edit.text = readDiskText(args, arg, 0, kNameLength, -1); break;
        case DirEditKind::Id: edit.text = readDiskText(args, arg, 1, kDiskIdLength, kIdPaddingPlace); break;
    }
    options.dirEdits.push_back(edit);
    options.imageModified = 1;
    return true;
}


// The highest interleave -il and -wil take: a step round the longest track.
constexpr int kMostInterleave = kMostSectors - 1;

// "-wtrack" T[/S]: a track of any family, and a sector of its longest track.
void readStartBlock(const char *text, InsertSettings &insert) {
    std::string track = text;
    size_t slash = track.find('/');
    insert.startSector = -1;
    if (slash != std::string::npos) {
        insert.startSector = parseNumberArg(track.c_str() + slash + 1, 0, kMostSectors - 1);
        track.resize(slash);
    }
    insert.startTrack = parseNumberArg(track.c_str(), 1, kMostTracks);
}

// The options that set how the next -w inserts its file, each applying to
// that file only: -wname, -wtype, -wtrack, -wil, -wreplace. False when `arg`
// is none of them.
bool readInsertSetting(const char *arg, ArgCursor &args) {
    auto is = [arg](const char *name) { return sameArg(arg, name); };
    InsertSettings &insert = args.insert;
    if (is("-wreplace")) {
        insert.replace = 1;
    } else if (is("-wname") || is("-wtype") || is("-wtrack") || is("-wil")) {
        if (!args.hasNext()) exitWithMessage(1, "ERROR: Argument for '%s' missing.", arg);
        if (is("-wname")) insert.name = readDiskText(args, arg, 1, kNameLength, -1);
        if (is("-wtrack")) readStartBlock(args.take(), insert);
        if (is("-wil")) insert.interleave = parseNumberArg(args.take(), 1, kMostInterleave);
        if (is("-wtype")) {
            const char *text = args.take();
            insert.typeByte = readTypeByte(text, arg);
            // A REL file needs side sectors, which an insert does not write; a
            // type byte of 0 marks the slot empty, free for the next entry.
            std::string shown = consoleOutsideText(text, ConsoleStream::Error);
            if ((insert.typeByte & 7) == kTypeRel)
                exitWithMessage(1, "ERROR: '-wtype %s' gives a REL file, which needs side sectors that '-w' does not "
                                 "write; give DEL, SEQ, PRG or USR.", shown.c_str());
            if (insert.typeByte == 0)
                exitWithMessage(1, "ERROR: '-wtype %s' gives type byte 0, which marks a slot empty; give '-type N 0' "
                                 "after the '-w' to hide the entry.", shown.c_str());
        }
    } else {
        return false;
    }
    if (!args.insertOption) args.insertOption = arg;
    return true;
}

// ---- Block commands ----------------------------------------------------------------

struct BlockCommandOption {
    const char *name;
    BlockCommandKind kind;
    int values;  // arguments it takes (-bcopy: 2, or 3 with an image)
};
const BlockCommandOption kBlockCommandOptions[] = {
    {"-bwrite", BlockCommandKind::Write, 2}, {"-bread", BlockCommandKind::Read, 2},
    {"-bpoke", BlockCommandKind::Poke, 3},   {"-bfill", BlockCommandKind::Fill, 2},
    {"-bcopy", BlockCommandKind::Copy, 2},   {"-bused", BlockCommandKind::Used, 1},
    {"-bfree", BlockCommandKind::Free, 1},   {"-chain", BlockCommandKind::Chain, 1},
};

// True when `text` is T/S: two whole numbers around one '/'.
bool isBlockAddress(const char *text) {
    const char *slash = std::strchr(text, '/');
    if (!slash || slash == text || !slash[1]) return false;
    std::string track(text, static_cast<size_t>(slash - text));
    return isWholeNumber(track.c_str()) && isWholeNumber(slash + 1);
}

// A block as T/S (a track of any family, a sector of its longest track); the
// image settles whether it holds it.
void readBlockAddress(const char *text, const char *option, int &track, int &sector) {
    if (!std::strchr(text, '/'))
        exitWithMessage(1, "ERROR: '%s' takes a block as TRACK/SECTOR (e.g. 18/1), not '%s'.", option,
                        consoleOutsideText(text, ConsoleStream::Error).c_str());
    std::string trackText = text;
    size_t slash = trackText.find('/');
    sector = parseNumberArg(text + slash + 1, 0, kMostSectors - 1);
    trackText.resize(slash);
    track = parseNumberArg(trackText.c_str(), 1, kMostTracks);
}

// Bytes as hexadecimal digits, two a byte, blanks allowed between bytes.
std::vector<uint8_t> readHexBytes(const char *text, const char *option) {
    std::vector<uint8_t> bytes;
    for (const char *at = text; *at;) {
        if (*at == ' ') {
            ++at;
            continue;
        }
        if (!std::isxdigit(static_cast<unsigned char>(at[0])) || !std::isxdigit(static_cast<unsigned char>(at[1])))
            exitWithMessage(1, "ERROR: '%s' takes its bytes as pairs of hex digits (e.g. 'a9 00'), not '%s'.",
                            option, consoleOutsideText(text, ConsoleStream::Error).c_str());
        bytes.push_back(static_cast<uint8_t>(std::stoi(std::string(at, 2), nullptr, 16)));
        at += 2;
    }
    if (bytes.empty()) exitWithMessage(1, "ERROR: '%s' has no bytes to put.", option);
    return bytes;
}

// The block commands, queued in command-line order. False when `arg` is none of them.
bool readBlockCommand(const char *arg, ArgCursor &args) {
    const BlockCommandOption *option = nullptr;
    for (const BlockCommandOption &candidate : kBlockCommandOptions)
        if (sameArg(arg, candidate.name)) option = &candidate;
    if (!option) return false;
    if (!args.hasNext(option->values))
        exitWithMessage(1, "ERROR: Argument%s for '%s' missing.", option->values > 1 ? "s" : "", arg);
    BlockCommand command{option->kind, 0, 0, 0, 0, 0, {}, "", arg};
    const char *first = args.take();
    command.given = std::string(arg) + " " + first;
    if (option->kind == BlockCommandKind::Chain && !std::strchr(first, '/'))
        command.sector = parseNumberArg(first, 0, kMaxEntryNumber);
    else
        readBlockAddress(first, arg, command.track, command.sector);
    switch (option->kind) {
        case BlockCommandKind::Write:
        case BlockCommandKind::Read: command.path = args.take(); break;
        case BlockCommandKind::Poke:
            command.offset = parseNumberArg(args.take(), 0, 255);
            command.bytes = readHexBytes(args.take(), arg);
            break;
        case BlockCommandKind::Fill: command.offset = parseNumberArg(args.take(), 0, 255); break;
        case BlockCommandKind::Copy:
            // -bcopy T/S [IMAGE] T/S: an image between the two blocks is the one copied from.
            if (!isBlockAddress(args.argv[args.next])) {
                if (!args.hasNext(2)) exitWithMessage(1, "ERROR: Block to copy after '%s' missing.", arg);
                command.path = args.take();
                if (command.path.empty()) exitWithMessage(1, "ERROR: Image name after '%s' missing.", arg);
            }
            readBlockAddress(args.take(), arg, command.fromTrack, command.fromSector);
            break;
        default: break;
    }
    bool changes = option->kind != BlockCommandKind::Read && option->kind != BlockCommandKind::Chain;
    if (changes) options.imageModified = 1;
    options.blockCommands.push_back(command);
    return true;
}

// How many of the arguments after `arg` it consumes as its values, by the
// rules of the readers above (at most those left); 0 for an option without
// values and for a plain argument.
int valuesTaken(const char *arg, const ArgCursor &args) {
    auto is = [arg](const char *name) { return sameArg(arg, name); };
    if (is("-rd") || is("-sd")) return args.hasNext() ? 1 + numbersAhead(args, 1, 1) : 0;
    if (is("-block") || is("-x")) return numbersAhead(args, 0, 2);
    if (is("-copy")) return args.hasNext() ? 1 + numbersAhead(args, 1, 2) : 0;
    int values = is("-start") || is("-mkpart") ? 2 : 0;
    for (const char *name :
         {"-w", "-into", "-part", "-new", "-40", "-wname", "-wtype", "-wtrack", "-wil", "-il", "-clash"})
        if (is(name)) values = 1;
    for (const DirEditOption &option : kDirEditOptions)
        if (is(option.name)) values = option.values;
    for (const BlockCommandOption &option : kBlockCommandOptions)
        if (is(option.name)) values = option.values;
    if (is("-bcopy") && args.hasNext(2) && !isBlockAddress(args.argv[args.next + 1])) values = 3;
    if (is("-bedit")) values = numbersAhead(args, 0, 2);
    return std::min(values, args.argc - args.next);
}

// The editor asked for, or nullptr.
const char *editorGiven() {
    if (options.editDirectory) return "-edit";
    if (options.editBlocks) return "-bedit";
    if (options.editMap) return "-bamedit";
    return nullptr;
}

void placePlainArgument(const char *arg, RunPaths &paths) {
    if (options.jsonReport || options.imageList) paths.images.push_back(arg);
    else if (options.newImage && paths.destination.empty()) paths.destination = arg;
    else if (options.newImage) exitWithMessage(1, "ERROR: '-new' makes the one image named; no other image is read, "
                                                "so '%s' has no place.", consoleOutsideText(arg, ConsoleStream::Error).c_str());
    else if (paths.source.empty()) paths.source = arg;
    else if (options.secondImageNeeded && paths.second.empty()) paths.second = arg;
    else if ((options.imageModified || editorGiven()) && paths.destination.empty()) paths.destination = arg;
    else exitWithError(1, "ERROR: Bad argument %s", consoleOutsideText(arg, ConsoleStream::Error).c_str());
}

// One argument, by the first rule that matches; values are consumed from args.
void applyArgument(const char *arg, ArgCursor &args, RunPaths &paths) {
    auto is = [arg](const char *name) { return sameArg(arg, name); };
    if (args.optionsEnded) {
        placePlainArgument(arg, paths);
    } else if (is("-p")) {
        options.activeCharMap = alternativeCharMap;
    } else if (std::strncmp(arg, "-v", 2) == 0) {
        applyViewLetters(arg);
    } else if (is("-csv")) {
        setAllColumns();
    } else if (is("-e")) {
        options.showTrackSector = options.exportTrackSector = 1;
    } else if (is("-rd")) {
        options.removeEntries = options.imageModified = 1;
        readEntryRange(args, "ERROR: Integer after '-rd' missing.");
    } else if (is("-sd")) {
        options.scratchEntries = options.imageModified = 1;
        readEntryRange(args, "ERROR: Integer after '-s' missing.");
    } else if (is("-block")) {
        options.blockViewer = 1;
        readViewPosition(args);
    } else if (is("-bam")) {
        options.bamView = 1;
    } else if (is("-merge")) {
        options.mergeImages = options.imageModified = options.secondImageNeeded = 1;
    } else if (is("-adel")) {
        ++options.appendDel;  // each -adel appends one entry
        options.imageModified = 1;
    } else if (is("-start")) {
        options.changeStartAddress = options.imageModified = 1;
        readStartChange(args);
    } else if (readDirectoryEdit(arg, args)) {
        // queued in options.dirEdits
    } else if (readBlockCommand(arg, args)) {
        // queued in options.blockCommands
    } else if (is("-edit")) {
        options.editDirectory = 1;
    } else if (is("-bedit")) {
        options.editBlocks = 1;
        readViewPosition(args);
    } else if (is("-bamedit")) {
        options.editMap = 1;
    } else if (is("-h") || is("--help")) {
        options.showHelp = 1;
    } else if (is("--version")) {
        options.showVersion = 1;
    } else if (is("--")) {
        args.optionsEnded = true;
    } else if (is("-check")) {
        options.checkDisk = 1;
    } else if (is("-fix")) {
        options.fixMap = options.imageModified = 1;
    } else if (is("-json")) {
        // Set before the first argument was read: see parseCommandLine.
    } else if (is("-utf8")) {
        options.utf8Output = 1;
    } else if (is("-U")) {
        options.glyphSet = kGlyphsC64Upper;
    } else if (is("-Ul")) {
        options.glyphSet = kGlyphsC64Lower;
    } else if (is("-x")) {
        options.extractFiles = 1;
        readExtractRange(args);
    } else if (is("-p00")) {
        options.extractPc64 = 1;
    } else if (is("-w")) {
        if (!args.hasNext()) exitWithMessage(1, "ERROR: File name after '-w' missing.");
        options.insertFiles = options.imageModified = 1;
        paths.inserts.push_back(args.take());
        options.insertSettings.push_back(args.insert);
        args.insert = kDriveInsert;
        args.insertOption = nullptr;
    } else if (is("-part")) {
        if (!args.hasNext()) exitWithMessage(1, "ERROR: Partition name after '-part' missing.");
        paths.partitions.push_back(args.argv[args.next]);
        options.partitions.push_back(readDiskText(args, arg, 1, kNameLength, -1));
    } else if (readInsertSetting(arg, args)) {
        // held for the next -w
    } else if (is("-il")) {
        if (!args.hasNext()) exitWithMessage(1, "ERROR: Argument for '-il' missing.");
        options.fileInterleave = parseNumberArg(args.take(), 1, kMostInterleave);
    } else if (is("-dirtrack")) {
        options.useSystemTrack = 1;
    } else if (is("-tracks40")) {
        options.useTracks36To40 = 1;
    } else if (is("-clash")) {
        readNameClash(args);
    } else if (is("-copy")) {
        readCopyRequest(args, paths);
    } else if (is("-mkpart")) {
        readNewPartition(args, paths);
    } else if (is("-new")) {
        readNewDisk(args);
    } else if (is("-40")) {
        readForty(args);
    } else if (is("-errorbytes")) {
        options.newErrorBytes = 1;
    } else if (is("-convert")) {
        options.convertImage = options.imageModified = 1;
    } else if (is("-into")) {
        if (!args.hasNext() || !*args.argv[args.next]) exitWithMessage(1, "ERROR: Folder name after '-into' missing.");
        if (!paths.into.empty()) exitWithMessage(1, "ERROR: '-into' is given twice; give one folder per run.");
        paths.into = args.take();
    } else if (arg[0] == '-') {
        exitWithError(1, "ERROR: Unknown option '%s'.", consoleOutsideText(arg, ConsoleStream::Error).c_str());
    } else {
        placePlainArgument(arg, paths);
    }
}

// The first entry edit given (made during the listing), or nullptr.
const char *entryEditGiven() {
    if (options.removeEntries) return "-rd";
    if (options.scratchEntries) return "-sd";
    if (options.changeStartAddress) return "-start";
    return nullptr;
}

// The first of the options given that -rd, -sd and -start cannot run with:
// they replace the listing, which makes those edits; nullptr when none is.
const char *dirEditName(DirEditKind kind) {
    for (const DirEditOption &option : kDirEditOptions)
        if (option.kind == kind) return option.name;
    return "?";
}

// The first action given that replaces the listing, or nullptr.
const char *actionWithoutListing() {
    if (options.bamView) return "-bam";
    if (options.blockViewer) return "-block";
    if (options.appendDel) return "-adel";
    if (!options.dirEdits.empty()) return dirEditName(options.dirEdits.front().kind);
    if (options.fixMap) return "-fix";
    if (options.checkDisk) return "-check";
    if (options.insertFiles) return "-w";
    if (options.copyEntries) return "-copy";
    if (options.makePartitions) return "-mkpart";
    if (options.extractFiles) return "-x";
    if (!options.blockCommands.empty()) return options.blockCommands.front().given.c_str();
    if (options.editDirectory || options.editBlocks || options.editMap) return "an editor";
    return nullptr;
}

// An editor works alone on one image: it writes when told to, so no other
// edit, action or second image goes with it (only -part, -U/-Ul, -p, -va and
// a destination name).
void refuseEditorConflicts(const RunPaths &paths) {
    const char *editor = editorGiven();
    if (!editor) return;
    int editors = options.editDirectory + options.editBlocks + options.editMap;
    if (editors > 1)
        exitWithMessage(1, "ERROR: '-edit', '-bedit' and '-bamedit' each open an editor; give one of them.");
    const char *other = options.imageModified ? "an editing option"
                        : options.checkDisk    ? "'-check'"
                        : options.extractFiles ? "'-x'"
                        : options.bamView      ? "'-bam'"
                        : options.blockViewer  ? "'-block'"
                        : options.exportTrackSector ? "'-e'"
                        : options.jsonReport   ? "'-json'"
                        : !options.blockCommands.empty() ? "a block command"
                                                         : nullptr;
    if (other)
        exitWithMessage(1, "ERROR: '%s' cannot be combined with %s; the editor writes the image itself.", editor,
                        other);
    if (paths.source.empty())
        exitWithMessage(1, "ERROR: '%s' edits one image; name it.", editor);
}

// Combinations refused before anything is read: two entry ranges (-rd and
// -sd share one), an entry edit where the listing does not run, -into or
// -p00 without -x.
void refuseConflicts(const ArgCursor &args, const RunPaths &paths) {
    if (args.rangeOptions > 1) {
        if (options.removeEntries && options.scratchEntries)
            exitWithMessage(1, "ERROR: '-rd' and '-sd' both give an entry range; give one of them per run.");
        exitWithMessage(1, "ERROR: '%s' is given twice; give one entry range per run.",
                        options.removeEntries ? "-rd" : "-sd");
    }
    const char *edit = entryEditGiven();
    const char *action = actionWithoutListing();
    if (edit && action)
        exitWithMessage(1, "ERROR: '%s' cannot be combined with '%s', which replaces the listing that makes the edit.",
                        edit, action);
    if (!paths.into.empty() && !options.extractFiles)
        exitWithMessage(1, "ERROR: '-into' names the folder for '-x'; give '-x' with it.");
    if (options.extractPc64 && !options.extractFiles)
        exitWithMessage(1, "ERROR: '-p00' is a form of the files of '-x'; give '-x' with it.");
    if (args.insertOption)
        exitWithMessage(1, "ERROR: '%s' sets how the next '-w' inserts its file, but no '-w' follows it.",
                        args.insertOption);
    const char *runSetting = options.fileInterleave ? "-il"
                             : options.useSystemTrack ? "-dirtrack"
                             : options.useTracks36To40 ? "-tracks40"
                                                       : nullptr;
    if (runSetting && !options.insertFiles)
        exitWithMessage(1, "ERROR: '%s' sets how '-w' inserts files; give '-w' with it.", runSetting);
    if (options.nameClash != NameClash::Refuse && !options.insertFiles && !options.copyEntries)
        exitWithMessage(1, "ERROR: '-clash' sets what '-w' and '-copy' do with a name the disk holds; give one of "
                           "them with it.");
    if ((options.newMapTracks40 || options.newErrorBytes) && !options.newImage)
        exitWithMessage(1, "ERROR: '%s' shapes a new image; give '-new' with it.",
                        options.newMapTracks40 ? "-40" : "-errorbytes");
    if (options.newImage && options.mergeImages)
        exitWithMessage(1, "ERROR: '-new' cannot be combined with '-merge'; merge into the new image in a second run.");
    if (options.newImage && paths.destination.empty()) exitWithMessage(1, "ERROR: Name of the new image missing.");
    if (options.convertImage && !options.newImage && paths.destination.empty())
        exitWithMessage(1, "ERROR: '-convert' writes the image named after the source; its extension (.d64, .d71, "
                           ".g64, .g71) gives the kind.");
}

// The JSON report lists images and nothing else.
void refuseJsonConflicts(const RunPaths &paths) {
    if (!options.jsonReport) return;
    if (options.imageModified) exitWithMessage(1, "ERROR: '-json' cannot be combined with an editing option.");
    if (options.extractFiles) exitWithMessage(1, "ERROR: '-json' cannot be combined with '-x'.");
    if (options.blockViewer || options.bamView || options.exportTrackSector)
        exitWithMessage(1, "ERROR: '-json' cannot be combined with '-block', '-bam' or '-e'.");
    if (paths.images.empty()) exitWithMessage(1, "ERROR: No image named for '-json'.");
}

// The last option that `wanted` names and that stands where an option
// stands: not as the value another option consumes (a name for -rename, a
// file for -w), not after "--"; nullptr when none does.
const char *lastOptionOf(int argc, char **argv, bool (*wanted)(const char *)) {
    ArgCursor args{argc, argv, 1, false, 0, kGlyphsCodePage437, {}, nullptr};
    const char *last = nullptr;
    while (args.hasNext()) {
        const char *arg = args.take();
        if (sameArg(arg, "--")) break;
        if (wanted(arg)) last = arg;
        args.next += valuesTaken(arg, args);
    }
    return last;
}

bool isJson(const char *arg) { return sameArg(arg, "-json"); }
bool isNew(const char *arg) { return sameArg(arg, "-new"); }
bool isGlyphSet(const char *arg) { return sameArg(arg, "-U") || sameArg(arg, "-Ul"); }
bool isCheckExtractOrCsv(const char *arg) {
    return sameArg(arg, "-check") || sameArg(arg, "-x") || sameArg(arg, "-csv");
}

// The options of a run on one image: the edits, which write one destination,
// and the map view and block viewer.
bool isForOneImage(const char *arg) {
    static const char *const kOneImage[] = {"-rd",  "-sd",   "-start", "-merge", "-adel",  "-fix",  "-w",
                                            "-copy", "-block", "-bam",  "-part",  "-new",   "-mkpart", "-edit",
                                            "-bedit", "-bamedit", "-convert"};
    for (const BlockCommandOption &option : kBlockCommandOptions)
        if (sameArg(arg, option.name)) return true;
    for (const char *name : kOneImage)
        if (sameArg(arg, name)) return true;
    for (const DirEditOption &option : kDirEditOptions)
        if (sameArg(arg, option.name)) return true;
    return false;
}

}  // namespace

RunPaths parseCommandLine(int argc, char **argv) {
    RunPaths paths;
    // -json changes what every plain argument is, those before it included.
    options.jsonReport = lastOptionOf(argc, argv, isJson) ? 1 : 0;
    // -new makes every plain argument the new image's name (there is no source), those before it too.
    options.newImage = !options.jsonReport && lastOptionOf(argc, argv, isNew) ? 1 : 0;
    // So does -check, -x or -csv with nothing that works on one image only.
    options.imageList = lastOptionOf(argc, argv, isCheckExtractOrCsv) && !lastOptionOf(argc, argv, isForOneImage) ? 1 : 0;
    // Names are read in the glyphs the listing shows them in, wherever -U or -Ul stands.
    const char *glyphs = lastOptionOf(argc, argv, isGlyphSet);
    int textGlyphs = !glyphs                             ? kGlyphsCodePage437
                     : sameArg(glyphs, "-Ul") ? kGlyphsC64Lower
                                                       : kGlyphsC64Upper;
    ArgCursor args{argc, argv, 1, false, 0, textGlyphs, kDriveInsert, nullptr};
    // A request for the help or the version ends the reading: what follows it
    // is not looked at, and nothing is refused.
    while (args.hasNext() && !options.showHelp && !options.showVersion) applyArgument(args.take(), args, paths);
    if (options.showHelp || options.showVersion) return paths;
    refuseEditorConflicts(paths);
    refuseConflicts(args, paths);
    refuseJsonConflicts(paths);
    if (!options.jsonReport && paths.images.size() < 2) {  // one image (or none): the run of one image
        if (!paths.images.empty()) paths.source = paths.images.front();
        paths.images.clear();
        options.imageList = 0;
    }
    // The catalogue of many images has no export lists.
    if (!paths.images.empty() && options.csvOutput && options.exportTrackSector && !options.checkDisk &&
        !options.extractFiles)
        exitWithMessage(1, "ERROR: '-e' exports the blocks of one image; '-csv' over %llu images makes a catalogue "
                           "without them.", static_cast<unsigned long long>(paths.images.size()));
    return paths;
}
