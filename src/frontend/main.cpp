// kestrel: view and edit D64 disk images.
#include <cstdlib>

#include "frontend/run.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

// Windows hands a narrow main its arguments in the console's code page, where
// a pasted glyph such as "─" is lost. kestrel takes the wide command line and
// passes UTF-8 on, as a POSIX shell does; file names go back to the system
// through its wide calls.
int main() {
    int count = 0;
    wchar_t **wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide) return EXIT_FAILURE;
    std::vector<std::string> texts(count);
    std::vector<char *> arguments;
    for (int i = 0; i < count; ++i) {
        int size = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        texts[i].assign(size > 0 ? size - 1 : 0, '\0');
        if (size > 1) WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, texts[i].data(), size, nullptr, nullptr);
        arguments.push_back(texts[i].data());
    }
    LocalFree(wide);
    arguments.push_back(nullptr);
    return runKestrel(count, arguments.data());
}
#else
int main(int argc, char **argv) { return runKestrel(argc, argv); }
#endif
