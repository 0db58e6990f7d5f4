// Usage text, the help that adds the options it leaves out, version line.
#include "frontend/usage.h"

#include <cstring>

#include "base/console.h"

#ifndef KESTREL_VERSION
#error "KESTREL_VERSION comes from the project() line of CMakeLists.txt"
#endif

namespace {

const char kUsageLine[] =
    "%s [-v[a|t|s|n|p]] [-csv] [-rd|-sd num [last]] [-start num addr] \n"
    "\t[-adel] [-block [track [sector]]] <d64 file> [<dest file>]\n";

const char kHelpText[] =
    "\n"
    "<d64 file> ... D64 file to be shown\n"
    "-v ........... Alter view of directory entry as follows \n"
    " a ........... Show all files (even deleted ones) \n"
    " t ........... Show track and sector \n"
    " s ........... Show start adress \n"
    " f ........... Show file size \n"
    " n ........... Show number for file \n"
    " b ........... Show real block count \n"
    " c ........... Show CRC check sum \n"
    " p ........... Use alternative presentation (optional)\n"
    "-csv ......... Display directory as .csv \n"
    "-e ........... Export track and sector as assembler bytes \n"
    "               (Do not combine with other options) \n"
    "-rd .......... Remove directory entry (leaves BAM and data) \n"
    "-sd .......... Scratch directory entry (entry becomes *DEL) \n"
    " num ......... First or only entry to be removed/scratched \n"
    " last ........ Last entry to be removed/scratched (optional) \n"
    "-start ....... Change start address of one directory entry \n"
    " num ......... Number of file which address has to changed \n"
    " addr ........ New start address \n"
    "-adel ........ Append empty DEL entry \n"
    "-block ....... Show the given block (default is 18 0) \n"
    "-bam ......... Show BAM \n"
    "\n"
    "Always provide the full file name including extension .d64\n";

// The options that the text above leaves out, which -h and --help add after
// it: one table, a group heading where `name` is null, an option or (indented
// by one blank) its value otherwise. A new option gets its line here.
struct HelpLine {
    const char *name;
    const char *text;
};
const HelpLine kMoreOptions[] = {
    {nullptr, "Viewing:"},
    {"-vo", "Show names unconverted (every byte as it is)"},
    {"-p", "Use alternative presentation (as -vp)"},
    {nullptr, "Checking:"},
    {"-check", "Report what is wrong with the disk (any number of images)"},
    {"-fix", "Rebuild the BAM from what the directory and files use"},
    {nullptr, "Files:"},
    {"-x", "Extract files into the current folder (any number of images)"},
    {" num", "First or only entry to be extracted (optional)"},
    {" last", "Last entry to be extracted (optional)"},
    {"-into", "Folder -x writes into, made when missing: -into dir"},
    {"-p00", "-x writes PC64 files (name.p00, .s00, .u00, .r00, .d00)"},
    {"-cvt", "-x writes GEOS files as CVT files (name.cvt); -w reads them"},
    {"-lnx", "-x writes one Lynx archive of the files: image.lnx"},
    {"-zipcode", "-x writes the disk as a ZipCode 4-pack: 1!image..4!image"},
    {"-w", "Write a file onto the disk (may be given again)"},
    {" file", "File to be written; its name gives the entry's name"},
    {" folder", "Every file in it, in name order (not those named .*)"},
    {" 'a/*.p?0'", "Quoted: the files * and ? match in the last part"},
    {" .p00 .t64", "A PC64 file or T64 tape gives the files in it, named"},
    {" .lnx", "So does a Lynx archive (all its files but REL ones)"},
    {"-wname", "For the next -w only: the entry's name (text as -rename)"},
    {"-wtype", "For the next -w only: the entry's type (as -type)"},
    {"-wtrack", "For the next -w only: first track, or T/S block"},
    {"-wil", "For the next -w only: sectors between blocks, 1-39"},
    {"-wrel", "For the next -w only: a REL file of records this long"},
    {"-wreplace", "For the next -w only: replace a file of the name"},
    {"-il", "Sectors between blocks of every file of -w, 1-39"},
    {"-dirtrack", "Let -w files take free blocks of the directory track"},
    {"-tracks40", "Let -w files take tracks 36-40 (SpeedDOS, DolphinDOS map)"},
    {"-clash", "A name on the disk: -clash refuse (default), skip, replace"},
    {"-copy", "Copy entries of another image: -copy image [num [last]]"},
    {" num, last", "Entries as -vn lists them there (default: all)"},
    {"--", "Every argument after it is a file, e.g. -vintage.d64"},
    {nullptr, "Partitions (1581):"},
    {"-part", "Work inside the CBM partition named (again: nested)"},
    {" name", "Its name as listed, matched exactly; %XX gives any byte"},
    {"-mkpart", "Make one, formatted inside: -mkpart name blocks"},
    {" blocks", "Whole tracks of 40 blocks, at least 120"},
    {nullptr, "New disks:"},
    {"-new", "Make a blank disk to fill: -new name,id dest (no source)"},
    {" dest", "The new image; .d64, .d71 or .d81 gives the drive"},
    {"-40", "A d64 of 40 tracks, its map: -40 speeddos|dolphindos"},
    {"-errorbytes", "Add an error byte to every block ($01, no error)"},
    {nullptr, "GCR images (.g64, .g71: read by their signature):"},
    {"-convert", "Write the image as another kind: -convert src dest"},
    {" dest", ".d64 .d71 (error bytes when a sector has one) .g64 .g71"},
    {"-zipdisk", "Make the d64 a ZipCode 4-pack holds: -zipdisk 1!name dest"},
    {nullptr, "Editing:"},
    {"-adel", "Given N times: appends N empty DEL entries"},
    {"-merge", "Append the directory of a 2nd d64 file given after it"},
    {"-rename", "Rename an entry: -rename num name"},
    {"-type", "Change the file type of an entry: -type num type"},
    {"-blocks", "Change the block count shown: -blocks num n"},
    {"-move", "Move an entry to where another stands: -move num to"},
    {"-undel", "Undelete a scratched entry (counted as -van): -undel num"},
    {"-header", "Change the disk name: -header name"},
    {"-id", "Change the disk id and DOS type (1-5 bytes): -id text"},
    {" num, to", "Entry number as -vn shows it (as -van with -va)"},
    {" name, text", "Text; %XX gives any byte (%a0 is the padding)"},
    {" type", "PRG, SEQ, USR, REL, DEL (*PRG open, PRG< locked) or 0-255"},
    {" n", "Block count to be shown, 0 to 65535"},
    {nullptr, "Editing by hand (in a terminal; keys on the screen):"},
    {"-edit", "Lay out the directory as the C64 lists it: move, rename"},
    {"-bedit", "Edit blocks in hex or characters: -bedit [track [sector]]"},
    {"-bamedit", "Set and clear the map's bits of blocks, one by one"},
    {nullptr, "Blocks (T/S is a block, e.g. 18/1; after the edits above):"},
    {"-bwrite", "Write a block from a file of 256 bytes at most: T/S file"},
    {"-bread", "Read a block into a file: -bread T/S file"},
    {"-bpoke", "Put bytes at an offset of a block: T/S offset 'a9 00'"},
    {"-bfill", "Fill a block with one byte: -bfill T/S byte"},
    {"-bcopy", "Copy a block into T/S: -bcopy T/S [image] T/S"},
    {"-bused", "Mark a block used in the map: -bused T/S"},
    {"-bfree", "Mark a block free in the map: -bfree T/S"},
    {"-chain", "Print the chain from a block or entry: -chain T/S|num"},
    {nullptr, "Archives:"},
    {"a.zip, a.gz", "Each image in them is read as an image file (never edited)"},
    {"a.zip!x.d64", "The one image of a zip archive named so"},
    {nullptr, "Output:"},
    {"-json", "List each image as one line of JSON (any number of images)"},
    {"-utf8", "Write disk characters as UTF-8 also into pipes and files"},
    {"-U", "Show disk characters as the C64 draws them (graphics set)"},
    {"-Ul", "The same in the C64's lower-case set"},
    {"-h, --help", "Show this help"},
    {"--version", "Show the version"},
};

// The dotted leader of kHelpText: a name, its dots and a blank fill the
// first 15 columns.
constexpr int kTextColumn = 15;

}  // namespace

void printVersion() { consolePrintf("kestrel " KESTREL_VERSION "\n"); }

void printUsage(const char *programName) {
    consolePrintf("A tool to view and manipulate d64 files. (Version: " KESTREL_VERSION ")\n");
    consolePrintf("\n");
    consolePrintf(kUsageLine, programName);
    consolePrintf("%s", kHelpText);
}

void printHelp(const char *programName) {
    printUsage(programName);
    static const char dots[] = "..............";
    for (const HelpLine &line : kMoreOptions) {
        if (!line.name) {
            consolePrintf("\n%s\n", line.text);
            continue;
        }
        int fill = kTextColumn - 2 - static_cast<int>(std::strlen(line.name));
        consolePrintf("%s %.*s %s\n", line.name, fill, dots, line.text);
    }
}
