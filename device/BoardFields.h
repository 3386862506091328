#pragma once

#include "LoadBoardRecord.h"

#include <QString>
#include <QStringView>

#include <span>

// The load board record's numbers as the Hardware Information dialog edits them: each with the
// settings of its editor, so that the dialog and qx5200-ctl's `board write` take the same values.
struct TBoardNumberField {
  const char *key; // the name set_field and qx5200-ctl use ("max_temp")
  long double TLoadBoardRecord::*field;
  int digits;   // DigitCount
  int decimals; // MaxDecimalPos
  int length;   // MaxLength
  bool negative;
  double max;
};

std::span<const TBoardNumberField> board_number_fields();
const TBoardNumberField *board_number_field(QStringView key);
const TBoardNumberField *board_number_field(long double TLoadBoardRecord::*field);

// What the record's wire form keeps of v: a single with its fraction truncated, or for max_value
// the byte (its whole number modulo 256).
long double board_wire_value(const TBoardNumberField &f, long double v);

// Empty when v is a value the field's editor takes (its digits, sign and maximum) and the wire
// form can hold; otherwise why not, starting with the field's key. A gain of 0 is refused: every
// output value is divided by it.
QString board_number_problem(const TBoardNumberField &f, double v);
