#include "core/arrival_column.h"

#include "text/cp1251.h"

namespace linograf {

const std::string& ArrivalTitle() {
    static const std::string title = Utf8ToCp1251("Время поступления");
    return title;
}

}  // namespace linograf
