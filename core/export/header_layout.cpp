#include "core/export/header_layout.h"

#include <algorithm>

#include "core/export/export_tokens.h"

namespace linograf {

THeaderLayout LayoutHeader(const std::vector<std::string>& titles, int first_row) {
    THeaderLayout layout;
    const int count = static_cast<int>(titles.size());
    std::vector<std::vector<std::string>> parts(count);
    for (int c = 0; c < count; ++c) {
        const int n = CountTokens(titles[c], '|');
        for (int k = 1; k <= n; ++k) parts[c].push_back(GetToken(titles[c], '|', k));
        layout.levels = std::max(layout.levels, n);
    }
    const int last_row = first_row + layout.levels - 1;

    for (int c = 0; c < count; ++c)
        for (size_t k = 0; k < parts[c].size(); ++k)
            layout.cells.push_back({c, first_row + static_cast<int>(k), parts[c][k]});

    // Columns c and d belong to one run at level k (0-based) when both titles reach that level,
    // have the same part k, and either both end there or both go on.
    auto same = [&](int c, int d, size_t k) {
        if (parts[c].size() <= k || parts[d].size() <= k) return false;
        if ((parts[c].size() == k + 1) != (parts[d].size() == k + 1)) return false;
        return parts[c][k] == parts[d][k];
    };
    for (int level = 0; level < layout.levels; ++level) {
        const size_t k = static_cast<size_t>(level);
        for (int c = 0; c < count;) {
            if (parts[c].size() <= k) {
                ++c;
                continue;
            }
            int end = c;
            while (end + 1 < count && same(c, end + 1, k)) ++end;
            const int row = first_row + level;
            // An ending title's cell is merged even when it is a single cell down to itself, so
            // every column caption is a merged area as in one-level headers.
            if (parts[c].size() == k + 1)
                layout.merges.push_back({c, row, end, last_row});
            else if (end > c)
                layout.merges.push_back({c, row, end, row});
            c = end + 1;
        }
    }
    // Column by column, top down: the order a column-wise walk of the titles gives.
    std::sort(layout.merges.begin(), layout.merges.end(), [](const THeaderMerge& a, const THeaderMerge& b) {
        return a.col1 != b.col1 ? a.col1 < b.col1 : a.row1 < b.row1;
    });
    return layout;
}

}  // namespace linograf
