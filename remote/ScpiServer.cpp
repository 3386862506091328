#include "ScpiServer.h"

#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <sys/socket.h>

TScpiServer::TScpiServer(TScpiCommandTable &table, TDeviceTurn &turn, QObject *parent)
    : QObject(parent), table_(table), turn_(turn) {
  connect(&turn_, &TDeviceTurn::free, this, &TScpiServer::schedule_drain, Qt::QueuedConnection);
}

TScpiServer::~TScpiServer() {
  for (auto &c : clients_)
    if (c->io)
      c->io->disconnect(this);
}

bool TScpiServer::listen_tcp(const QHostAddress &address, quint16 port, QString &error) {
  tcp_ = new QTcpServer(this);
  if (!tcp_->listen(address, port)) {
    error = tcp_->errorString();
    return false;
  }
  connect(tcp_, &QTcpServer::newConnection, this, [this] {
    while (QTcpSocket *s = tcp_->nextPendingConnection()) {
      s->setReadBufferSize(read_chunk);
      s->setSocketOption(QAbstractSocket::LowDelayOption, 1);
      add_client(s, QStringLiteral("%1:%2").arg(s->peerAddress().toString()).arg(s->peerPort()));
    }
  });
  return true;
}

quint16 TScpiServer::tcp_port() const { return tcp_ ? tcp_->serverPort() : 0; }

bool TScpiServer::listen_local(const QString &path, QString &error) {
  local_ = new QLocalServer(this);
  local_->setSocketOptions(QLocalServer::UserAccessOption);
  QLocalServer::removeServer(path);
  if (!local_->listen(path)) {
    error = local_->errorString();
    return false;
  }
  QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
  connect(local_, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket *s = local_->nextPendingConnection()) {
      s->setReadBufferSize(read_chunk);
      add_client(s, local_peer_name(s->socketDescriptor()));
    }
  });
  return true;
}

void TScpiServer::close_local() {
  if (local_)
    local_->close();
}

void TScpiServer::add_client(QIODevice *io, const QString &name) {
  if (int(clients_.size()) >= max_clients) {
    io->close();
    io->deleteLater();
    return;
  }
  auto client = std::make_unique<TClient>();
  client->io = io;
  client->session.client = name;
  TClient *c = client.get();
  clients_.push_back(std::move(client));
  io->setParent(this);
  connect(io, &QIODevice::readyRead, this, [this, c] { read_client(c); });
  connect(io, &QIODevice::bytesWritten, this, [this, c] { read_client(c); });
  auto gone = [this, c] { drop_client(c); };
  if (auto *t = qobject_cast<QTcpSocket *>(io))
    connect(t, &QTcpSocket::disconnected, this, gone);
  else if (auto *l = qobject_cast<QLocalSocket *>(io))
    connect(l, &QLocalSocket::disconnected, this, gone);
  read_client(c);
}

void TScpiServer::read_client(TClient *c) {
  if (c->gone || !c->io)
    return;
  bool added = false;
  std::vector<TScpiFramer::TMessage> messages;
  while (c->queued < max_queued && c->io->bytesToWrite() < max_unsent && c->io->bytesAvailable() > 0) {
    const QByteArray bytes = c->io->read(read_chunk);
    if (bytes.isEmpty())
      break;
    messages.clear();
    c->framer.feed(bytes.constData(), bytes.size(), messages);
    for (TScpiFramer::TMessage &m : messages) {
      jobs_.push_back({c, std::move(m.text), m.too_long});
      ++c->queued;
      added = true;
    }
  }
  if (added)
    schedule_drain();
}

// A client that goes away mid-message leaves its partial message unapplied, and its waiting
// messages are dropped; one being carried out finishes, its answer goes nowhere.
void TScpiServer::drop_client(TClient *c) {
  if (c->gone)
    return;
  c->gone = true;
  std::erase_if(jobs_, [c](const TJob &j) { return j.client == c; });
  if (c->io) {
    c->io->disconnect(this);
    c->io->deleteLater();
  }
  if (running_ == c)
    return; // freed when its command returns
  std::erase_if(clients_, [c](const std::unique_ptr<TClient> &p) { return p.get() == c; });
}

void TScpiServer::schedule_drain() {
  if (drain_scheduled_)
    return;
  drain_scheduled_ = true;
  QTimer::singleShot(0, this, [this] {
    drain_scheduled_ = false;
    drain();
  });
}

void TScpiServer::drain() {
  // Messages that arrive while a command waits for the device are queued behind it.
  if (draining_ || jobs_.empty() || !turn_.take())
    return;
  draining_ = true;
  for (int n = 0; n < batch && !jobs_.empty(); ++n) {
    TJob job = std::move(jobs_.front());
    jobs_.pop_front();
    TClient *c = job.client;
    --c->queued;
    running_ = c;
    QByteArray reply;
    if (job.too_long)
      c->session.push_error(scpi::too_much_data,
                            QStringLiteral("a line holds at most %1 bytes and a block %2")
                                .arg(TScpiFramer::max_line)
                                .arg(TScpiFramer::max_block));
    else
      reply = table_.execute(c->session, job.message);
    running_ = nullptr;
    if (c->gone) {
      std::erase_if(clients_, [c](const std::unique_ptr<TClient> &p) { return p.get() == c; });
      continue;
    }
    if (!reply.isEmpty() && c->io)
      c->io->write(reply);
    read_client(c);
  }
  draining_ = false;
  turn_.give(); // schedules the next batch, if any, after the events waiting now
}

QString local_peer_name(qintptr socket_descriptor) {
  struct ucred cred {};
  socklen_t size = sizeof cred;
  if (socket_descriptor < 0 ||
      ::getsockopt(int(socket_descriptor), SOL_SOCKET, SO_PEERCRED, &cred, &size) != 0 || cred.pid <= 0)
    return {};
  QFile comm(QStringLiteral("/proc/%1/comm").arg(cred.pid));
  QString name = comm.open(QIODevice::ReadOnly) ? QString::fromUtf8(comm.readAll()).trimmed() : QString();
  if (name.isEmpty())
    name = QStringLiteral("a program");
  return QStringLiteral("%1 (pid %2)").arg(name).arg(cred.pid);
}
