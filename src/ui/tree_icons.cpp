#include "ui/tree_icons.h"

#include <QApplication>
#include <QFile>
#include <QHash>
#include <QStyle>

// The images are compiled into the window's static library, whose resources are registered by
// hand before their first use.
static void register_icons() {
  Q_INIT_RESOURCE(icons);
}

namespace kba604::tree_icons {
namespace {

void ensure_registered() {
  static const bool registered = (register_icons(), true);
  (void)registered;
}

QIcon load(const QString& name, QStyle::StandardPixmap fallback) {
  ensure_registered();
  static QHash<QString, QIcon> cache;
  auto it = cache.find(name);
  if (it != cache.end()) return *it;
  const QString path = QStringLiteral(":/icons/%1.svg").arg(name);
  QIcon icon;
  if (QFile::exists(path)) {
    icon = QIcon(path);
  } else if (qApp != nullptr) {
    icon = QApplication::style()->standardIcon(fallback);
  }
  cache.insert(name, icon);
  return icon;
}

}  // namespace

bool has_number(int number) {
  ensure_registered();
  return QFile::exists(QStringLiteral(":/icons/image-%1.svg").arg(number));
}

QIcon for_number(int number) {
  return load(QStringLiteral("image-%1").arg(number), QStyle::SP_DirIcon);
}

QIcon for_parameter(RowIcon icon) {
  switch (icon) {
    case RowIcon::WritableItemList:
      return load(QStringLiteral("parameter-list"), QStyle::SP_FileDialogDetailedView);
    case RowIcon::Writable:
      return load(QStringLiteral("parameter-writable"), QStyle::SP_FileIcon);
    case RowIcon::ReadOnly:
      break;
  }
  return load(QStringLiteral("parameter-readonly"), QStyle::SP_FileDialogInfoView);
}

QIcon operational() {
  return load(QStringLiteral("parameter-polled"), QStyle::SP_BrowserReload);
}

QIcon configuration() {
  return load(QStringLiteral("configuration"), QStyle::SP_DriveHDIcon);
}

QIcon computer() {
  return load(QStringLiteral("computer"), QStyle::SP_ComputerIcon);
}

}  // namespace kba604::tree_icons
