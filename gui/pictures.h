#pragma once
// The window's pictures, drawn rather than loaded so the program carries no image files: the
// toolbar list (start triangle, stop square, Excel sign, diskette), the sidebar's notebook with a
// magnifier and tools, and the navigator's marks.
#include <QIcon>

namespace linograf {

enum class TPicture {
    kStart,     // toolbar 0
    kStop,      // toolbar 1
    kExcel,     // toolbar 2
    kDiskette,  // toolbar 3
    kNotebook,  // sidebar "Журнал"
    kTools,     // sidebar "Параметры"
    kInsert,    // navigator
    kDelete,
    kPost,
    kCancel,
    kEllipsis,  // edit box button
};

QIcon Picture(TPicture picture);

}  // namespace linograf
