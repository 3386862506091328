#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QString>

#include <vector>

// SCPI program messages as text lines: cutting a byte stream into messages (with IEEE 488.2
// definite-length blocks that may hold any byte, newlines included) and parsing one message into
// its commands. QtCore only; nothing here knows the QX5200.

namespace scpi {

// The standard error numbers this program reports; error_text gives their standard texts.
enum TError : int {
  no_error = 0,
  command_error = -100,
  invalid_character = -101,
  syntax_error = -102,
  invalid_separator = -103,
  data_type_error = -104,
  parameter_not_allowed = -108,
  missing_parameter = -109,
  header_suffix_out_of_range = -114,
  undefined_header = -113,
  numeric_data_error = -120,
  invalid_suffix = -131,
  string_data_error = -150,
  invalid_block_data = -161,
  execution_error = -200,
  settings_conflict = -221,
  data_out_of_range = -222,
  too_much_data = -223,
  illegal_parameter_value = -224,
  hardware_error = -240,
  hardware_missing = -241,
  queue_overflow = -350,
};
QString error_text(int code);

} // namespace scpi

// Cuts a client's byte stream into messages, each ended by '\n' (a '\r' before it is dropped).
// A newline inside a definite-length block belongs to the block. Memory stays bounded: a message
// whose text outside its blocks passes max_line bytes, or one of whose blocks declares more than
// max_block bytes, is still read to its end (an oversize block is counted off, not stored) and
// then handed on marked too_long, so the connection stays in step with its client.
class TScpiFramer {
public:
  static constexpr qsizetype max_line = 64 * 1024;
  static constexpr qsizetype max_block = 4 * 1024 * 1024;

  struct TMessage {
    QByteArray text;
    bool too_long = false;
  };

  void feed(const char *data, qsizetype size, std::vector<TMessage> &out);
  // Bytes of a message not yet ended: what a client that goes away leaves unapplied.
  bool mid_message() const { return state_ != text || !message_.isEmpty() || too_long_; }

private:
  enum State { text, quoted, hash, length_digits, body, skip_body };
  void append(char c);
  void finish(std::vector<TMessage> &out);

  State state_ = text;
  char quote_ = 0;
  int digits_left_ = 0;
  qint64 remaining_ = 0;
  qsizetype text_bytes_ = 0;
  bool too_long_ = false;
  QByteArray message_;
};

// One program data element: a decimal or non-decimal number, a word (character data such as ON
// or TABLe), a quoted string or a block.
struct TScpiParam {
  enum Kind { number, word, string, block };
  Kind kind = number;
  QByteArray text; // the word in upper case, the string's content, the block's bytes, the number
  long double value = 0;
};

// One command of a message: its header (upper-cased mnemonics, a numeric suffix 1 dropped),
// whether it is a query, and its parameters. When `error` is set the command is malformed and
// runs not; the rest of its message is not parsed.
struct TScpiUnit {
  QByteArrayList path;
  bool common = false;   // *IDN? and its kind: path holds "*IDN"
  bool absolute = false; // began with ':'
  bool query = false;
  std::vector<TScpiParam> params;
  int error = 0;
  QString info; // what was wrong, for the error queue
};

// The commands of one message, separated by ';'. Empty commands (";;", a blank line) are left out.
std::vector<TScpiUnit> parse_scpi_message(const QByteArray &message);

// A decimal number as SCPI writes it (NR1, NR2 or NR3), optionally followed by an SI multiplier
// (T, G, MA, K, M, U, N, P, F; M is milli, MA mega) and the unit S, in any letter case. The
// multiplier moves the exponent, so "2.5MS" reads exactly as "2.5e-3". False for anything else.
bool scpi_number(const QByteArray &text, long double &value, int &error);
