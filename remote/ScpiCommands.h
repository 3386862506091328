#pragma once

#include "ScpiParser.h"

#include <QByteArray>
#include <QString>

#include <deque>
#include <functional>
#include <utility>
#include <vector>

// What one client of the instrument has of its own: its error queue and status bytes, and the
// header path its last command left for the next one of the same message.
class TScpiSession {
public:
  static constexpr int queue_size = 20;
  // IEEE 488.2 event status bits.
  static constexpr int esr_opc = 0x01, esr_query = 0x04, esr_device = 0x08, esr_execution = 0x10,
                       esr_command = 0x20;

  // Queues an error (with this program's own detail after ';') and sets its event bit. A full
  // queue keeps its oldest errors and ends with -350.
  void push_error(int code, const QString &info = {});
  // `code,"text[;info]"`, oldest first; 0,"No error" once empty.
  QString next_error();
  int error_count() const { return int(errors_.size()); }
  void clear_status() {
    errors_.clear();
    esr_ = 0;
  }
  int read_esr() { return std::exchange(esr_, 0); }
  void set_event(int bit) { esr_ |= bit; }
  int stb() const;

  int ese = 0;
  int sre = 0;
  QByteArrayList prefix; // header path for a following relative command
  QString client;        // who is asking: "qx5200-ctl (pid N)", or the peer's address

private:
  struct Entry {
    int code;
    QString info;
  };
  std::deque<Entry> errors_;
  int esr_ = 0;
};

// One command being carried out: its parameters, the answer a query gives, and the error
// it fails with.
class TScpiCall {
public:
  TScpiCall(TScpiSession &session, const TScpiUnit &unit) : session(session), unit(unit) {}

  TScpiSession &session;
  const TScpiUnit &unit;
  QByteArray reply;

  const TScpiParam &param(std::size_t i) const { return unit.params[i]; }
  std::size_t count() const { return unit.params.size(); }
  // Each reads parameter i, or queues the error and returns false.
  bool number(std::size_t i, long double &value);
  bool whole(std::size_t i, long long min, long long max, long long &value);
  bool boolean(std::size_t i, bool &value);
  // One of `choices` (long forms in SCPI case: "TABLe"); its index.
  bool choice(std::size_t i, const std::vector<const char *> &choices, int &index);
  void fail(int code, const QString &info = {}) {
    failed_ = true;
    session.push_error(code, info);
  }
  bool failed() const { return failed_; }

private:
  bool failed_ = false;
};

// The instrument's command tree: headers in SCPI notation, optional nodes in brackets
// ("[SOURce:]WAVeform:DATA", "SYSTem:ERRor[:NEXT]"), matched in long or short form in any
// letter case. A query and its setting are two entries.
class TScpiCommandTable {
public:
  using THandler = std::function<void(TScpiCall &)>;
  struct TArity {
    int min = 0;
    int max = 0; // -1: any number
  };

  void add(const char *header, bool query, TArity arity, THandler handler);
  // The IEEE 488.2 commands kept by the session (*CLS, *ESE, *ESR?, *OPC, *OPC?, *SRE, *STB?,
  // *WAI) and SYSTem:ERRor[:NEXT]?, :COUNt?, SYSTem:VERSion?.
  void add_status_commands();

  // Runs every command of one message in order; the answers of its queries, joined by ';' and
  // ended by '\n' as IEEE 488.2 has it, or empty when none answered.
  QByteArray execute(TScpiSession &session, const QByteArray &message);
  // Runs one parsed command; true when it is a query that answered (into `reply`).
  bool execute(TScpiSession &session, const TScpiUnit &unit, QByteArray &reply);

private:
  struct TNode {
    QByteArray long_form; // upper case
    QByteArray short_form;
    bool optional = false;
  };
  struct TEntry {
    std::vector<TNode> nodes;
    bool common = false;
    bool query = false;
    TArity arity;
    THandler handler;
  };
  const TEntry *find(const QByteArrayList &path, bool common, bool query, bool &other_form) const;
  static bool matches(const std::vector<TNode> &nodes, std::size_t n, const QByteArrayList &path,
                      qsizetype p);

  std::vector<TEntry> entries_;
};

// A real as an answer: the shortest text of its double, SCPI's 9.91E37 for a figure that is not
// a number, and +-9.9E37 for infinities and figures beyond a double's range.
QByteArray scpi_real(long double v);
// A string answer in double quotes, inner quotes doubled.
QByteArray scpi_string(const QString &text);
