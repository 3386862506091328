#pragma once

#include "NumberConversion.h"

#include <QString>

// Expected texts are written with '.'; under a comma locale the program writes ','.
inline QString localized(QString text) { return text.replace(QChar(u'.'), locale_decimal_separator()); }
