#include "ui/file_hand_over.h"

#include <QFileInfo>
#include <QLocalSocket>

#include "platform/paths.h"

namespace kba604 {
namespace {

// A file name is one line of UTF-8; anything longer than a path can be is refused.
constexpr qint64 kMaxMessage = 8192;

}  // namespace

QString hand_over_socket() {
  return QString::fromStdString((platform::runtime_dir() / "kba604-window").string());
}

FileHandOver::FileHandOver(QObject* parent) : QObject(parent) {
  server_.setSocketOptions(QLocalServer::UserAccessOption);
  connect(&server_, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
      connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
      connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
        if (!socket->canReadLine()) {
          if (socket->bytesAvailable() > kMaxMessage) socket->abort();
          return;
        }
        const QString path = QString::fromUtf8(socket->readLine(kMaxMessage)).trimmed();
        socket->write("ok\n");
        socket->flush();
        socket->disconnectFromServer();
        if (!path.isEmpty()) emit file_received(path);
      });
    }
  });
}

bool FileHandOver::listen() {
  const QString name = hand_over_socket();
  if (server_.listen(name)) return true;
  // A socket nobody answers on is left from a program that ended abruptly.
  QLocalSocket probe;
  probe.connectToServer(name);
  if (probe.waitForConnected(200)) return false;
  QLocalServer::removeServer(name);
  return server_.listen(name);
}

bool hand_over_file(const QString& path, int timeout_ms) {
  QLocalSocket socket;
  socket.connectToServer(hand_over_socket());
  if (!socket.waitForConnected(timeout_ms)) return false;
  socket.write(QFileInfo(path).absoluteFilePath().toUtf8() + "\n");
  if (!socket.waitForBytesWritten(timeout_ms)) return false;
  if (!socket.waitForReadyRead(timeout_ms)) return false;
  return socket.readLine(16).startsWith("ok");
}

}  // namespace kba604
