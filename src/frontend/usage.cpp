// Usage text and version line.
#include "frontend/usage.h"

#include "base/console.h"

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

}  // namespace

void printVersion() { consolePrintf("kestrel 1.0\n"); }

void printUsage(const char *programName) {
    consolePrintf("A tool to view and manipulate d64 files. (Version: 1.0)\n");
    consolePrintf("\n");
    consolePrintf(kUsageLine, programName);
    consolePrintf("%s", kHelpText);
}
