#include "workbook/ooxml/xls_zip_archive.h"

#include "workbook/ooxml/zip_name.h"

namespace linograf::workbook {

void TXLSZipArchive::CreateNew(TStream& stream) {
    stream.WriteBytes(TEndOfCentralDir{}.Encode());
    Open(stream);
}

void TXLSZipArchive::Open(TStream& stream) {
    zip_.Open(stream);
}

std::u16string TXLSZipArchive::EntryName(int index) const {
    if (index < 0 || index >= EntryCount()) throw EZipError("ZIP entry index out of bounds");
    return ZipNameToUtf16(zip_.Entries()[index].FileName());
}

int TXLSZipArchive::IndexOf(std::u16string_view name) const {
    return zip_.IndexOf(ZipNameFromUtf16(name));
}

void TXLSZipArchive::ExtractToStream(std::u16string_view name, TStream& stream) {
    const std::string stored = ZipNameFromUtf16(name);
    const int index = zip_.IndexOf(stored);
    if (index < 0) throw EZipError("Can not find file " + stored + " in ZIP");
    zip_.ExtractToStream(index, stream);
    stream.SetPosition(0);
}

void TXLSZipArchive::AddStream(std::u16string_view folder, std::u16string_view name, TStream& stream) {
    stream.SetPosition(0);
    std::u16string full(folder);
    full += name;
    zip_.AddStream(ZipNameFromUtf16(full), stream, kAttrArchive);
}

void TXLSZipArchive::BeginEntry(std::u16string_view folder, std::u16string_view name) {
    std::u16string full(folder);
    full += name;
    zip_.BeginEntry(ZipNameFromUtf16(full), kAttrArchive);
}

}  // namespace linograf::workbook
