#pragma once
// Qt sets the C library's locale from the user's when its application starts. Numbers in
// the boxes, the dial, the data log and every file must read and write with a point
// whatever that locale is (a log written as "3,30132" cannot be read back): call this right
// after the application is made.

#include <QLocale>
#include <clocale>

namespace qvin::qt {

inline void KeepNumbersWithAPoint() {
    std::setlocale(LC_NUMERIC, "C");
    QLocale::setDefault(QLocale::c());
}

}  // namespace qvin::qt
