#pragma once

#include "LoadBoardRecord.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringView>

#include <span>
#include <utility>

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

// The record as it goes over the wire, field by field in the record's order, as text: the
// numbers in the shortest form of what the wire keeps, the texts as their bytes give them. What
// is written is what a read gives back, so writes are compared in this form.
QList<std::pair<QString, QString>> board_wire_fields(const TLoadBoardRecord &lb);
// One field of board_wire_fields as JSON: a number, a text, or return_to_zero as a boolean.
QJsonValue board_field_json(const QString &name, const QString &text);
// The record as one JSON object of those fields: what `board read`, `status`, `upload` and the
// SCPI BOARd:RECord? all print.
QJsonObject board_record_json(const TLoadBoardRecord &lb);
