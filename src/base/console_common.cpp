// Console output shared by every platform: formatted program text, disk
// characters (bytes or glyphs, as the output and the options ask), UTF-8 text
// and the error stream. Key reading and screen clearing are in the platform files.
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "base/console.h"

#include "base/charmap.h"
#include "base/options.h"

namespace {

// Fully buffered output to a pipe or file; the whole listing leaves in few writes.
bool outputPrepared = false;
bool outputIsTerminal = false;

void prepareOutput() {
    if (outputPrepared) return;
    outputPrepared = true;
    outputIsTerminal = consoleOutputIsTerminal();
    if (!outputIsTerminal) std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
}

// ---- Plain formatting --------------------------------------------------------
// A listing prints thousands of small fields, and vfprintf's general machinery
// would cost more than all the rest of the run. The conversions this program
// uses are formatted here, byte for byte as vfprintf formats them: flags '-'
// and '0', a width, the lengths l, ll (and z for u and x), and d i u x c s %.
// At the first conversion beyond these, vfprintf takes over the rest of the
// format with the arguments that are left.

struct Conversion {
    bool leftAlign;
    bool zeroPad;
    int width;
    int length;  // 0 int, 1 long, 2 long long, 3 size_t
    char type;
};

// Reads the conversion after a '%'; returns the character after it, or nullptr
// when it uses anything beyond the set above.
const char *readConversion(const char *at, Conversion &conversion) {
    conversion = Conversion{false, false, 0, 0, 0};
    for (;; ++at) {
        if (*at == '-') conversion.leftAlign = true;
        else if (*at == '0') conversion.zeroPad = true;
        else break;
    }
    for (; *at >= '0' && *at <= '9'; ++at) {
        if (conversion.width > 999) return nullptr;
        conversion.width = conversion.width * 10 + (*at - '0');
    }
    if (*at == 'l') {
        conversion.length = *++at == 'l' ? (++at, 2) : 1;
    } else if (*at == 'z') {
        conversion.length = 3;
        ++at;
    }
    conversion.type = *at;
    switch (conversion.type) {
        case 'u': case 'x': break;
        case 'd': case 'i': if (conversion.length == 3) return nullptr; break;
        case 'c': case 's': if (conversion.zeroPad || conversion.length) return nullptr; break;
        case '%': if (conversion.leftAlign || conversion.zeroPad || conversion.width || conversion.length) return nullptr; break;
        default: return nullptr;
    }
    return at + 1;
}

// One byte to stdout, which stays the one buffered stream. POSIX lets the one
// thread skip the stream's lock, and glibc inlines the step into its buffer.
inline void putByte(char byte) {
#ifdef _WIN32
    std::fputc(static_cast<unsigned char>(byte), stdout);
#else
    putc_unlocked(static_cast<unsigned char>(byte), stdout);
#endif
}

void putBytes(const char *bytes, size_t count) {
    for (size_t i = 0; i < count; ++i) putByte(bytes[i]);
}

void putRepeated(char byte, int count) {
    for (; count > 0; --count) putByte(byte);
}

// A field of `count` bytes padded with blanks to the conversion's width.
void putField(const Conversion &conversion, const char *bytes, size_t count) {
    int padding = conversion.width - static_cast<int>(count);
    if (!conversion.leftAlign) putRepeated(' ', padding);
    putBytes(bytes, count);
    if (conversion.leftAlign) putRepeated(' ', padding);
}

void putNumber(const Conversion &conversion, bool negative, unsigned long long magnitude) {
    char digits[24];
    char *first = digits + sizeof digits;
    unsigned base = conversion.type == 'x' ? 16 : 10;
    do {
        *--first = "0123456789abcdef"[magnitude % base];
        magnitude /= base;
    } while (magnitude != 0);
    size_t count = static_cast<size_t>(digits + sizeof digits - first);
    int padding = conversion.width - static_cast<int>(count) - (negative ? 1 : 0);
    if (conversion.leftAlign) {
        if (negative) putBytes("-", 1);
        putBytes(first, count);
        putRepeated(' ', padding);
    } else if (conversion.zeroPad) {
        if (negative) putBytes("-", 1);
        putRepeated('0', padding);
        putBytes(first, count);
    } else {
        putRepeated(' ', padding);
        if (negative) putBytes("-", 1);
        putBytes(first, count);
    }
}

void formatPlain(const char *format, va_list args) {
    const char *at = format;
    while (*at) {
        const char *run = at;
        while (*at && *at != '%') ++at;
        putBytes(run, static_cast<size_t>(at - run));
        if (!*at) break;
        Conversion conversion;
        const char *next = readConversion(at + 1, conversion);
        if (!next) {
            std::vfprintf(stdout, at, args);
            return;
        }
        at = next;
        switch (conversion.type) {
            case 'd':
            case 'i': {
                long long value = conversion.length == 0   ? va_arg(args, int)
                                  : conversion.length == 1 ? va_arg(args, long)
                                                           : va_arg(args, long long);
                unsigned long long magnitude = static_cast<unsigned long long>(value);
                putNumber(conversion, value < 0, value < 0 ? 0 - magnitude : magnitude);
                break;
            }
            case 'u':
            case 'x': {
                unsigned long long value = conversion.length == 0   ? va_arg(args, unsigned)
                                           : conversion.length == 1 ? va_arg(args, unsigned long)
                                           : conversion.length == 2 ? va_arg(args, unsigned long long)
                                                                    : va_arg(args, size_t);
                putNumber(conversion, false, value);
                break;
            }
            case 'c': {
                char byte = static_cast<char>(static_cast<unsigned char>(va_arg(args, int)));
                putField(conversion, &byte, 1);
                break;
            }
            case 's': {
                const char *text = va_arg(args, const char *);
                if (!text) text = "(null)";
                putField(conversion, text, std::strlen(text));
                break;
            }
            default:
                putBytes("%", 1);
                break;
        }
    }
}

// ---- Texts from outside ---------------------------------------------------------

// Length of the well-formed UTF-8 sequence at `at` (of `left` bytes), 0 when
// there is none: no overlong form, no surrogate, nothing above U+10FFFF.
size_t utf8SequenceLength(const unsigned char *at, size_t left) {
    unsigned char lead = at[0];
    size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                    : lead >= 0xE0 && lead <= 0xEF ? 3
                    : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                   : 0;
    if (length == 0 || length > left) return 0;
    unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
    if (lead == 0xE0) low = 0xA0;
    else if (lead == 0xED) high = 0x9F;
    else if (lead == 0xF0) low = 0x90;
    else if (lead == 0xF4) high = 0x8F;
    if (at[1] < low || at[1] > high) return 0;
    for (size_t i = 2; i < length; ++i)
        if (at[i] < 0x80 || at[i] > 0xBF) return 0;
    return length;
}

void appendEscaped(std::string &shown, unsigned char byte) {
    shown += "\\x";
    shown += "0123456789abcdef"[byte >> 4];
    shown += "0123456789abcdef"[byte & 15];
}

// ---- Key decoding --------------------------------------------------------------

// How long the rest of an escape sequence may take on a terminal before a
// lone ESC counts as the Esc key.
constexpr int kEscapeWaitMs = 50;

int pendingKey = -1;  // second code of an arrow key, delivered on the next call
int pushedByte = -1;  // a byte read ahead while decoding an escape sequence

int nextKeyByte(int waitMs) {
    if (pushedByte < 0) return consoleReadKeyByte(waitMs);
    int byte = pushedByte;
    pushedByte = -1;
    return byte;
}

int arrowCode(int finalByte) {
    switch (finalByte) {
        case 'A': return kKeyUp;
        case 'B': return kKeyDown;
        case 'C': return kKeyRight;
        case 'D': return kKeyLeft;
        default: return -1;
    }
}

// After an ESC: an arrow's code, kKeyEsc for a lone ESC, or -1 for another
// sequence, which is read to its end and dropped.
int decodeEscape() {
    int introducer = nextKeyByte(kEscapeWaitMs);
    if (introducer != '[' && introducer != 'O') {
        if (introducer >= 0) pushedByte = introducer;
        return kKeyEsc;
    }
    bool plain = true;  // no parameter bytes between introducer and final byte
    for (;;) {
        int byte = nextKeyByte(kEscapeWaitMs);
        if (byte < 0) return -1;
        if (byte >= 0x40 && byte <= 0x7E) return plain ? arrowCode(byte) : -1;
        plain = false;
    }
}

}  // namespace

int consoleDecodeKey() {
    if (pendingKey >= 0) {
        int key = pendingKey;
        pendingKey = -1;
        return key;
    }
    for (;;) {
        int byte = nextKeyByte(-1);
        if (byte == kKeyByteRedraw) return kKeyRedraw;
        if (byte < 0) return 'q';
        if (byte != kKeyEsc) return byte;
        int code = decodeEscape();
        if (code == kKeyEsc) return kKeyEsc;
        if (code >= 0) {
            pendingKey = code;
            return kKeyArrowPrefix;
        }
    }
}

// ---- Capturing ----------------------------------------------------------------

namespace {

std::string *capture = nullptr;  // where output goes while a capture runs
bool captureEndsLine = false;    // the last thing captured was program text ending in a line end

}  // namespace

std::string consoleFormat(const char *format, va_list args) {
    va_list again;
    va_copy(again, args);
    int length = std::vsnprintf(nullptr, 0, format, args);
    std::string text(static_cast<size_t>(length > 0 ? length : 0), '\0');
    std::vsnprintf(text.data(), text.size() + 1, format, again);
    va_end(again);
    return text;
}

std::string consoleFormatf(const char *format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = consoleFormat(format, args);
    va_end(args);
    return text;
}

void consoleCaptureStart(std::string &into) {
    capture = &into;
    captureEndsLine = false;
}

void consoleCaptureStop() {
    if (capture && captureEndsLine) capture->pop_back();
    capture = nullptr;
}

void consolePrintCaptured(const std::string &captured) {
    prepareOutput();
    for (size_t at = 0; at < captured.size(); ++at) {
        if (captured[at] != '\0') putByte(captured[at]);
        else if (++at < captured.size()) consoleDiskCode(static_cast<uint8_t>(captured[at]));
    }
}

std::string consoleCapturedGlyphs(const std::string &captured) {
    std::string text;
    for (size_t at = 0; at < captured.size(); ++at) {
        if (captured[at] != '\0') text += captured[at];
        else if (++at < captured.size()) text += diskGlyph(static_cast<uint8_t>(captured[at]));
    }
    return text;
}

std::string consoleQuotedName(const uint8_t *name, int length) {
    std::string text = "\"";
    bool quotePending = true;
    for (int i = 0; i < length; ++i) {
        if (name[i] == 0xA0 && quotePending) {
            text += '"';
            quotePending = false;
            continue;
        }
        text += diskGlyph(name[i]);
    }
    return quotePending ? text + '"' : text;
}

void consoleVprintf(const char *format, va_list args) {
    if (capture) {
        std::string text = consoleFormat(format, args);
        if (!text.empty()) captureEndsLine = text.back() == '\n';
        *capture += text;
        return;
    }
    prepareOutput();
    formatPlain(format, args);
}

void consolePrintf(const char *format, ...) {
    va_list args;
    va_start(args, format);
    consoleVprintf(format, args);
    va_end(args);
}

// Glyphs rather than bytes: always on a terminal, and into a pipe or a file
// with -utf8, so that what arrives there is what a terminal gets (with -vo the
// pictures of the raw bytes) and always reads as UTF-8.
bool glyphsWanted() { return outputIsTerminal || options.utf8Output; }

void writeGlyph(const char *utf8) {
    if (outputIsTerminal) consoleWriteGlyph(utf8);
    else putBytes(utf8, std::strlen(utf8));
}

void consoleDiskCode(uint8_t code) {
    if (capture) {
        *capture += '\0';
        *capture += static_cast<char>(code);
        captureEndsLine = false;
        return;
    }
    prepareOutput();
    if (glyphsWanted()) writeGlyph(diskGlyph(code));
    else putByte(static_cast<char>(toConsoleChar(code)));
}

void consoleDiskCodes(const uint8_t *codes, int count) {
    if (capture || count <= 0) {
        for (int i = 0; i < count; ++i) consoleDiskCode(codes[i]);
        return;
    }
    prepareOutput();
    // Decided once for the run of codes: a listing prints every name this way.
    if (glyphsWanted()) {
        for (int i = 0; i < count; ++i) writeGlyph(diskGlyph(codes[i]));
        return;
    }
    for (int i = 0; i < count; ++i) putByte(static_cast<char>(toConsoleChar(codes[i])));
}

bool consoleDiskCodeWrites(uint8_t code, char ascii) {
    prepareOutput();
    if (!glyphsWanted()) return toConsoleChar(code) == static_cast<uint8_t>(ascii);
    const char *glyph = diskGlyph(code);
    return glyph[0] == ascii && glyph[1] == '\0';
}

void consoleDiskChar(uint8_t cp437) {
    prepareOutput();
    if (glyphsWanted()) writeGlyph(cp437Glyph(cp437));
    else putByte(static_cast<char>(cp437));
}

void consoleText(const char *utf8, size_t length) {
    prepareOutput();
    if (!outputIsTerminal) {
        std::fwrite(utf8, 1, length, stdout);
        return;
    }
    for (size_t at = 0; at < length;) {
        size_t end = at + 1;
        if (static_cast<unsigned char>(utf8[at]) < 0x80) {
            putByte(utf8[at]);
        } else {
            while (end < length && end - at < 4 && (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80) ++end;
            char glyph[5] = {};
            std::memcpy(glyph, utf8 + at, end - at);
            consoleWriteGlyph(glyph);
        }
        at = end;
    }
}

void consoleFlush() { std::fflush(stdout); }

std::string consoleEscapeControls(const std::string &text) {
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(text.data());
    std::string shown;
    for (size_t at = 0; at < text.size();) {
        unsigned char byte = bytes[at];
        size_t length = byte < 0x80 ? 1 : utf8SequenceLength(bytes + at, text.size() - at);
        // U+0080..U+009F are the two-byte sequences C2 80..C2 9F.
        bool control = byte < 0x20 || byte == 0x7F || (length == 0 && byte >= 0x80 && byte <= 0x9F) ||
                       (length == 2 && byte == 0xC2 && bytes[at + 1] <= 0x9F);
        size_t count = length == 0 ? 1 : length;
        for (size_t i = at; i < at + count; ++i) {
            if (control) appendEscaped(shown, bytes[i]);
            else shown += static_cast<char>(bytes[i]);
        }
        at += count;
    }
    return shown;
}

std::string consoleOutsideText(const std::string &text, ConsoleStream stream) {
    bool terminal = stream == ConsoleStream::Output ? consoleOutputIsTerminal() : consoleErrorIsTerminal();
    return terminal ? consoleEscapeControls(text) : text;
}

const char *consoleLostStream() {
    bool outputWritten = std::fflush(stdout) == 0 && !std::ferror(stdout);
    if (!outputWritten) return "standard output";
    return std::ferror(stderr) ? "standard error" : nullptr;
}

namespace {
std::string *errorCapture = nullptr;  // where consoleErrorf writes while an error capture runs
}  // namespace

void consoleErrorCaptureStart(std::string &into) { errorCapture = &into; }

void consoleErrorCaptureStop() { errorCapture = nullptr; }

void consoleVerrorf(const char *format, va_list args) {
    if (errorCapture) {
        *errorCapture += consoleFormat(format, args);
        return;
    }
    consoleFlush();
    std::vfprintf(stderr, format, args);
    std::fflush(stderr);
}

void consoleErrorf(const char *format, ...) {
    va_list args;
    va_start(args, format);
    consoleVerrorf(format, args);
    va_end(args);
}

#ifdef KESTREL_FUZZ
void consoleForgetRun() {
    outputPrepared = outputIsTerminal = false;
    capture = nullptr;
    errorCapture = nullptr;
    pendingKey = pushedByte = -1;
    consoleForgetPlatformRun();
}
#endif
