#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class QSessionManager;
class QUndoStack;
class TForm1;

// What closing the window would lose, asked before it goes: a waveform the QX5200 is playing
// (stop it, or leave it running) and table changes not saved since the last Open or Save (save,
// discard). Nothing is done until every question is answered; Cancel in any keeps the window
// as it was, and so does a save or a stop that fails. The same questions come with the
// desktop's logout. The window's title names the file and marks unsaved changes.
class TCloseGuard : public QObject {
  Q_OBJECT
public:
  struct THooks {
    std::function<void()> settle;  // makes table changes not yet an undo step one
    std::function<bool()> save;    // saves the table (asking for a name if it has none)
    std::function<bool()> busy;    // a device exchange is in progress below us
    std::function<QString()> file; // the file the table was last opened from or saved to
  };
  TCloseGuard(TForm1 &window, QUndoStack &steps, THooks hooks);

  // The table holds changes not saved.
  bool modified();
  // The table as it is now is the file's content (after an Open or a Save).
  void saved();
  // Asks what is needed and does what the answers say; true when the window may close now.
  bool may_close();

private:
  struct TAnswers {
    bool stop = false;
    bool save = false;
  };
  std::optional<TAnswers> ask();
  bool carry_out();
  void when_idle(std::function<void()> then);
  bool stop_waveform();
  void commit_data(QSessionManager &manager);
  void update_title();

  TForm1 &window_;
  QUndoStack &steps_;
  THooks hooks_;
  // Answers given and not yet carried out: a close asked for during a device exchange waits
  // for the end of the tick, and one the logout answered is not asked again.
  std::optional<TAnswers> answers_;
  std::optional<int> logout_index_;
  bool close_deferred_ = false;
};
