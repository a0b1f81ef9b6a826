#pragma once
// The arrival column: the time a line ended, from this computer's clock, as a date-time in the
// journal (its column "arrival", right after the id) and in the log's workbooks (a date-time cell
// under the title "Время поступления"). The grid, the log and the export show it the same way.
#include <string>
#include <string_view>

namespace linograf {

// The journal column that holds the arrival time (type ftDateTime).
inline constexpr std::string_view kArrivalField = "arrival";
// Milliseconds shown: lines of a fast device arrive within the same second.
inline constexpr std::u16string_view kArrivalFormat = u"dd.mm.yyyy hh:mm:ss.000";
inline constexpr int kArrivalColumnWidth = 150;

// The column's title, Windows-1251 like the other titles of the journal.
const std::string& ArrivalTitle();

}  // namespace linograf
