#pragma once

#include "ScpiCommands.h"

#include <QHostAddress>
#include <QObject>
#include <QPointer>

#include <deque>
#include <memory>
#include <vector>

class QIODevice;
class QLocalServer;
class QTcpServer;

// Who talks to the device now. Every device exchange waits with the event loop running, so a
// client's command, the poll and a request from another program could otherwise nest their
// exchanges; whoever holds the turn goes first, and the others wait for `free`.
class TDeviceTurn : public QObject {
  Q_OBJECT
public:
  bool busy() const { return busy_; }
  bool take() { return !std::exchange(busy_, true); }
  void give() {
    busy_ = false;
    emit free();
  }

signals:
  void free();

private:
  bool busy_ = false;
};

// Serves a command table on TCP and on a local socket: each client's bytes are cut into
// messages, and the messages of all clients are carried out one at a time in arrival order, on
// the one UI thread, each answer written back to its client. Nothing blocks: a client that
// sends half a message and goes silent holds nothing up. Memory stays bounded per client: at most
// max_queued messages waiting and max_unsent answer bytes not yet taken, beyond which its socket
// is simply not read (TCP then slows the client down).
class TScpiServer : public QObject {
  Q_OBJECT
public:
  static constexpr int max_clients = 16;
  static constexpr int max_queued = 32;
  static constexpr qint64 max_unsent = 4 * 1024 * 1024;
  static constexpr qint64 read_chunk = 64 * 1024;
  // Messages carried out in a row before the poll and the other events get their turn.
  static constexpr int batch = 8;

  TScpiServer(TScpiCommandTable &table, TDeviceTurn &turn, QObject *parent = nullptr);
  ~TScpiServer() override;

  // False, with the reason ("address in use"...), when the port cannot be had.
  bool listen_tcp(const QHostAddress &address, quint16 port, QString &error);
  quint16 tcp_port() const;
  // A socket file only this user may open; a stale one is replaced, so call it only while
  // holding the device's lock.
  bool listen_local(const QString &path, QString &error);
  // Takes no more local clients and removes the socket file; call it before letting go of the lock.
  void close_local();
  int client_count() const { return int(clients_.size()); }

private:
  struct TClient {
    QPointer<QIODevice> io;
    TScpiSession session;
    TScpiFramer framer;
    int queued = 0;
    bool gone = false;
  };
  struct TJob {
    TClient *client;
    QByteArray message;
    bool too_long;
  };

  void add_client(QIODevice *io, const QString &name);
  void read_client(TClient *client);
  void drop_client(TClient *client);
  void drain();
  void schedule_drain();

  TScpiCommandTable &table_;
  TDeviceTurn &turn_;
  QTcpServer *tcp_ = nullptr;
  QLocalServer *local_ = nullptr;
  std::vector<std::unique_ptr<TClient>> clients_;
  std::deque<TJob> jobs_;
  TClient *running_ = nullptr;
  bool draining_ = false;
  bool drain_scheduled_ = false;
};

// "qx5200-ctl (pid 1234)" for the process at the other end of a local socket; empty when the
// system does not say.
QString local_peer_name(qintptr socket_descriptor);
