// The UTF-8 / CP932 rules of platform/textcodec: whatever the bytes, every conversion
// to UTF-8 gives valid UTF-8, cuts fall on character boundaries, and CP932 that
// converts cleanly comes back unchanged.
#include "textcodec.h"

#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char *>(data), size);
    bool ok = false;
    const std::string fromCp932 = kes::cp932ToUtf8(bytes, &ok);
    const std::string texts[] = { fromCp932, kes::systemOrCp932ToUtf8(bytes), kes::latin1TagToUtf8(bytes) };
    for (const std::string &text : texts) {
        if (!kes::isValidUtf8(text))
            __builtin_trap();
        const size_t cut = kes::utf8CutLength(text, size % 64);
        if (cut > size % 64 && cut != text.size())
            __builtin_trap();
        if (!kes::isValidUtf8(std::string_view(text).substr(0, cut)))
            __builtin_trap();
    }
    if (ok) {
        bool back = false;
        const std::string again = kes::utf8ToCp932(fromCp932, &back);
        // Several CP932 codes share one character (NEC and IBM extensions): only the
        // text must survive, not the bytes.
        if (!back || kes::cp932ToUtf8(again) != fromCp932)
            __builtin_trap();
    }
    if (kes::isValidUtf8(bytes)
        && kes::systemOrCp932ToUtf8(bytes) != (bytes.starts_with("\xEF\xBB\xBF") ? bytes.substr(3) : bytes))
        __builtin_trap();
    return 0;
}
