#include "CloseGuard.h"

#include "QX5200_Driver.h"
#include "QX5200_unit.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QSessionManager>
#include <QTimer>
#include <QUndoStack>

TCloseGuard::TCloseGuard(TForm1 &window, QUndoStack &steps, THooks hooks)
    : QObject(&window), window_(window), steps_(steps), hooks_(std::move(hooks)) {
  connect(&steps_, &QUndoStack::cleanChanged, this, &TCloseGuard::update_title);
  // An Open undone or redone brings another file's name.
  connect(&steps_, &QUndoStack::indexChanged, this, &TCloseGuard::update_title);
  // Asked of the window, which is there whenever the session ends.
  connect(qGuiApp, &QGuiApplication::commitDataRequest, this, &TCloseGuard::commit_data,
          Qt::DirectConnection);
  update_title();
}

void TCloseGuard::update_title() {
  const QString file = hooks_.file();
  window_.setWindowTitle(file.isEmpty()
                             ? tr("QX5200 Waveform Generator[*]")
                             : tr("QX5200 Waveform Generator - %1[*]").arg(QFileInfo(file).fileName()));
  window_.setWindowModified(!steps_.isClean());
}

bool TCloseGuard::modified() {
  hooks_.settle();
  return !steps_.isClean();
}

void TCloseGuard::saved() {
  steps_.setClean();
  update_title();
}

std::optional<TCloseGuard::TAnswers> TCloseGuard::ask() {
  TAnswers answers;
  if (window_.driver->is_running()) {
    const int answer = window_.dialogs().choose(
        &window_, tr("The QX5200 is playing a waveform.\nQuitting the program does not stop it."),
        {tr("Stop the waveform and quit"), tr("Quit and leave it running")});
    if (answer < 0)
      return std::nullopt;
    answers.stop = answer == 0;
  }
  if (modified()) {
    const QString file = hooks_.file();
    const int answer = window_.dialogs().choose(
        &window_,
        file.isEmpty() ? tr("Save the changes to the table?")
                       : tr("Save the changes to %1?").arg(QFileInfo(file).fileName()),
        {file.isEmpty() ? tr("Save As...") : tr("Save"), tr("Discard")});
    if (answer < 0)
      return std::nullopt;
    answers.save = answer == 0;
  }
  return answers;
}

bool TCloseGuard::may_close() {
  if (!answers_) {
    // What the logout answered holds for the close that comes with it, if nothing changed since.
    const bool answered = logout_index_ == steps_.index();
    logout_index_.reset();
    answers_ = answered ? std::optional<TAnswers>(TAnswers{}) : ask();
    if (!answers_)
      return false;
  }
  // A close that came inside a device exchange (the waits run the event loop) would break into
  // it: it is made again once the tick has ended.
  if (hooks_.busy()) {
    if (!close_deferred_)
      when_idle([this] {
        close_deferred_ = false;
        window_.close();
      });
    close_deferred_ = true;
    return false;
  }
  return carry_out();
}

void TCloseGuard::when_idle(std::function<void()> then) {
  connect(
      &window_, &TForm1::tick_finished, this,
      [this, then = std::move(then)] { QTimer::singleShot(0, &window_, then); }, Qt::SingleShotConnection);
}

bool TCloseGuard::carry_out() {
  const TAnswers answers = answers_.value_or(TAnswers{});
  answers_.reset();
  if (answers.save && !hooks_.save())
    return false; // the failure has been said; nothing is lost
  if (answers.stop && !stop_waveform()) {
    window_.dialogs().error(&window_, tr("The QX5200 did not confirm the stop: the waveform may still be "
                                         "playing. The program stays open; press STOP or try again."));
    return false;
  }
  return true;
}

bool TCloseGuard::stop_waveform() {
  TQX5200_DRIVER &driver = *window_.driver;
  // A device that is gone plays nothing.
  for (int attempt = 0; attempt < 3 && driver.is_connected(); ++attempt)
    if (driver.stop_output() && driver.query_run_state() && !driver.is_running())
      return true;
  return !driver.is_connected();
}

void TCloseGuard::commit_data(QSessionManager &manager) {
  // Without leave to ask, nothing is changed: the device keeps what it does, the file what it holds.
  if (!manager.allowsInteraction())
    return;
  answers_ = ask();
  manager.release();
  if (!answers_) {
    manager.cancel();
    return;
  }
  if (hooks_.busy()) {
    // Too late to cancel the logout then; a failure is still said.
    when_idle([this] {
      if (carry_out())
        logout_index_ = steps_.index();
    });
  } else if (carry_out()) {
    logout_index_ = steps_.index();
  } else {
    manager.cancel();
  }
}
