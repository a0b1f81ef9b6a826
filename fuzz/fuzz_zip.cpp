// The ZIP reader on arbitrary bytes: opening, listing, lookup and extraction of every entry, then
// changes on top of whatever was opened. Errors are expected; crashes, hangs, unbounded
// allocation and an added entry that does not read back are findings.
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/memory_stream.h"
#include "workbook/ooxml/xls_zip_archive.h"
#include "workbook/ooxml/zip_name.h"

using namespace linograf::workbook;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TMemoryStream stream(std::string(reinterpret_cast<const char*>(data), size));
    TXLSZipArchive zip;
    zip.Zip().SetEntryDateTime(0);
    zip.Open(stream);
    if (!zip.IsZipFile()) return 0;

    for (int i = 0; i < zip.EntryCount(); ++i) {
        // Every entry is found by its own name, unless the name normalises to nothing.
        std::string normal = ToZipName(zip.Zip().Entries()[i].FileName());
        if (!normal.empty() && normal.front() == '/') normal.erase(0, 1);
        if (!normal.empty() && zip.IndexOf(zip.EntryName(i)) < 0) __builtin_trap();
        try {
            zip.Zip().ExtractToString(i);
        } catch (const EZipError&) {
        } catch (const EStreamError&) {
        }
    }

    try {
        const std::string text = "fuzz added entry";
        TMemoryStream part(text);
        zip.AddStream(u"fuzz/", u"added.xml", part);
        const int index = zip.IndexOf(u"fuzz/added.xml");
        if (index < 0 || zip.Zip().ExtractToString(index) != text) __builtin_trap();
        if (zip.EntryCount() > 1) zip.Zip().RemoveEntry(0);
    } catch (const EZipError&) {
    } catch (const EStreamError&) {
    }
    return 0;
}
