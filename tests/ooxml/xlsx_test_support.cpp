#include "tests/ooxml/xlsx_test_support.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "base/memory_stream.h"
#include "tests/support/run_command.h"
#include "tests/support/temp_dir.h"
#include "text/wide_text.h"
#include "workbook/ooxml/xls_write_2007_xml.h"
#include "workbook/ooxml/xls_zip_archive.h"

namespace linograf::workbook::test {

std::string WriteXlsx(TTabulon4& book, const std::string& source) {
    TMemoryStream out;
    if (source.empty()) {
        WriteOpenXmlWorkbook(book, out, nullptr);
    } else {
        TMemoryStream from(source);
        WriteOpenXmlWorkbook(book, out, &from);
    }
    return out.Release();
}

std::vector<PackagePart> ReadParts(const std::string& package) {
    TMemoryStream stream(package);
    TXLSZipArchive zip;
    zip.Open(stream);
    std::vector<PackagePart> parts;
    for (int i = 0; i < zip.EntryCount(); ++i) {
        TMemoryStream part;
        const std::u16string name = zip.EntryName(i);
        zip.ExtractToStream(name, part);
        parts.push_back({WideToUtf8(name), part.Release()});
    }
    return parts;
}

std::string PartText(const std::string& package, const std::string& name) {
    for (PackagePart& part : ReadParts(package))
        if (part.name == name) return part.text;
    ADD_FAILURE() << "no part " << name;
    return {};
}

std::string RunOpenpyxl(const std::string& path, const std::string& body) {
    const std::string script = "import sys, openpyxl\nwb = openpyxl.load_workbook(sys.argv[1])\n" + body;
    const auto result = linograf::test::RunPython(script, {path});
    EXPECT_EQ(result.exit_code, 0) << result.errors;
    return result.output;
}

std::string ConvertToCsvWithLibreOffice(const std::string& path, bool& skipped) {
    const std::string soffice = linograf::test::FindProgram("soffice");
    skipped = soffice.empty();
    if (skipped) return {};
    // A profile of its own, so parallel runs and other users' instances do not interfere.
    linograf::test::TempDir work;
    const auto result = linograf::test::RunCommand(
        {soffice, "-env:UserInstallation=file://" + work.File("profile"), "--headless", "--convert-to",
         "csv:Text - txt - csv (StarCalc):44,34,76", "--outdir", work.path().string(), path});
    const std::string csv = work.File(std::filesystem::path(path).stem().string() + ".csv");
    EXPECT_TRUE(std::filesystem::exists(csv)) << result.output << result.errors;
    if (!std::filesystem::exists(csv)) return {};
    return linograf::test::ReadFileBytes(csv);
}

}  // namespace linograf::workbook::test
