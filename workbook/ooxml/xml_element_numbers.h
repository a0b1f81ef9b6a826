#pragma once
// The element numbers the Open XML reader's handlers switch on.
#include "workbook/model/open_xml_model.h"

namespace linograf::workbook::xe {
#define LINOGRAF_XE(n) inline constexpr int n = XmlElementNumber(#n)
LINOGRAF_XE(alignment);
LINOGRAF_XE(b);
LINOGRAF_XE(bgColor);
LINOGRAF_XE(border);
LINOGRAF_XE(borders);
LINOGRAF_XE(bottom);
LINOGRAF_XE(c);
LINOGRAF_XE(calcPr);
LINOGRAF_XE(cellStyle);
LINOGRAF_XE(cellStyles);
LINOGRAF_XE(cellStyleXfs);
LINOGRAF_XE(cellXfs);
LINOGRAF_XE(charset);
LINOGRAF_XE(col);
LINOGRAF_XE(color);
LINOGRAF_XE(colors);
LINOGRAF_XE(cols);
LINOGRAF_XE(condense);
LINOGRAF_XE(definedName);
LINOGRAF_XE(definedNames);
LINOGRAF_XE(diagonal);
LINOGRAF_XE(dimension);
LINOGRAF_XE(dxfs);
LINOGRAF_XE(extend);
LINOGRAF_XE(externalReference);
LINOGRAF_XE(externalReferences);
LINOGRAF_XE(f);
LINOGRAF_XE(family);
LINOGRAF_XE(fgColor);
LINOGRAF_XE(fill);
LINOGRAF_XE(fills);
LINOGRAF_XE(font);
LINOGRAF_XE(fonts);
LINOGRAF_XE(gradientFill);
LINOGRAF_XE(horizontal);
LINOGRAF_XE(i);
LINOGRAF_XE(left);
LINOGRAF_XE(mergeCell);
LINOGRAF_XE(mergeCells);
LINOGRAF_XE(name);
LINOGRAF_XE(numFmt);
LINOGRAF_XE(numFmts);
LINOGRAF_XE(outline);
LINOGRAF_XE(patternFill);
LINOGRAF_XE(protection);
LINOGRAF_XE(r);
LINOGRAF_XE(Relationship);
LINOGRAF_XE(rFont);
LINOGRAF_XE(right);
LINOGRAF_XE(row);
LINOGRAF_XE(rPr);
LINOGRAF_XE(scheme);
LINOGRAF_XE(shadow);
LINOGRAF_XE(sheet);
LINOGRAF_XE(sheetData);
LINOGRAF_XE(sheets);
LINOGRAF_XE(si);
LINOGRAF_XE(sst);
LINOGRAF_XE(stop);
LINOGRAF_XE(strike);
LINOGRAF_XE(sz);
LINOGRAF_XE(t);
LINOGRAF_XE(tableStyles);
LINOGRAF_XE(top);
LINOGRAF_XE(u);
LINOGRAF_XE(v);
LINOGRAF_XE(vertAlign);
LINOGRAF_XE(vertical);
LINOGRAF_XE(xf);
#undef LINOGRAF_XE
// Inline-string cells: "is" is not in the element-name table, so it is matched by name.
inline constexpr std::string_view kInlineString = "is";
}  // namespace linograf::workbook::xe
