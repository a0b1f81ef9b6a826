// Compound document reader on arbitrary bytes: it may refuse the input with its own error, and
// nothing else. Whatever it accepts must read through the stream interface and must save and
// load back to the same tree.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "workbook/cfb/compound_document.h"

using namespace linograf::workbook;

namespace {

std::uint64_t ReadAll(TCompoundStream stream) {
    char buffer[4096];
    std::uint64_t total = 0;
    while (std::size_t n = stream.Read(buffer, sizeof buffer)) total += n;
    if (total != stream.Size()) __builtin_trap();
    return total;
}

bool SameTree(const TCompoundStorage& a, const TCompoundStorage& b) {
    const auto ea = a.Elements(), eb = b.Elements();
    if (ea.size() != eb.size() || a.ClassId() != b.ClassId()) return false;
    for (std::size_t i = 0; i < ea.size(); ++i) {
        if (ea[i].name != eb[i].name || ea[i].type != eb[i].type || ea[i].size != eb[i].size) return false;
        if (ea[i].type == TCompoundElementType::cetStream) {
            ReadAll(a.OpenStream(ea[i].name));
            if (a.OpenStream(ea[i].name).Bytes() != b.OpenStream(eb[i].name).Bytes()) return false;
        } else if (!SameTree(a.OpenStorage(ea[i].name), b.OpenStorage(eb[i].name))) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    TCompoundDocument document;
    try {
        document = TCompoundDocument::Load(bytes);
    } catch (const ECompoundDocumentError&) {
        return 0;
    }
    const TCompoundDocument again = TCompoundDocument::Load(document.Save());
    if (again.MajorVersion() != document.MajorVersion() || !SameTree(document.Root(), again.Root()))
        __builtin_trap();
    return 0;
}
