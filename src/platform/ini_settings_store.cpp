#include "platform/ini_settings_store.h"

#include <QSettings>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <system_error>

#include "platform/paths.h"
#include "platform/text.h"

namespace kba604::platform {

struct IniSettingsStore::Impl {
  explicit Impl(const std::filesystem::path& path)
      : settings(QString::fromStdString(path.string()), QSettings::IniFormat) {}
  QSettings settings;
};

namespace {

QString qs(std::string_view s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

std::string text_of(const QVariant& v) {
  // An unquoted value with a comma comes back as a list; the text had the commas.
  if (v.typeId() == QMetaType::QStringList) return v.toStringList().join(",").toStdString();
  return v.toString().toStdString();
}

// The stored spelling of a child name of the current group, found without regard to case.
QString stored_key(const QSettings& s, std::string_view name) {
  const QStringList names = s.childKeys();
  for (const QString& k : names) {
    if (iequals(k.toStdString(), name)) return k;
  }
  return {};
}

QString stored_group(const QSettings& s, std::string_view name) {
  const QStringList names = s.childGroups();
  for (const QString& g : names) {
    if (iequals(g.toStdString(), name)) return g;
  }
  return qs(name);
}

// Enters base and section (each may be empty), keeping the spelling already in the file.
int enter(QSettings& s, std::string_view base, std::string_view section) {
  int depth = 0;
  for (std::string_view g : {base, section}) {
    if (g.empty()) continue;
    s.beginGroup(stored_group(s, g));
    ++depth;
  }
  return depth;
}

void leave(QSettings& s, int depth) {
  while (depth-- > 0) s.endGroup();
}

}  // namespace

IniSettingsStore::IniSettingsStore(std::filesystem::path path, std::string base_section)
    : path_(std::move(path)),
      base_section_(std::move(base_section)),
      impl_(std::make_unique<Impl>(path_)) {}

IniSettingsStore::~IniSettingsStore() = default;

std::optional<std::string> IniSettingsStore::value(std::string_view key) const {
  std::lock_guard lock(mutex_);
  QSettings& s = impl_->settings;
  // Pick up what another process wrote since.
  s.sync();
  auto [section, name] = split_settings_key(key);
  int depth = enter(s, base_section_, section);
  QString k = stored_key(s, name);
  std::optional<std::string> out;
  if (!k.isEmpty()) out = text_of(s.value(k));
  leave(s, depth);
  return out;
}

bool IniSettingsStore::set_value(std::string_view key, std::string_view value) {
  std::lock_guard lock(mutex_);
  std::error_code ec;
  std::filesystem::create_directories(path_.parent_path(), ec);
  QSettings& s = impl_->settings;
  s.sync();
  auto [section, name] = split_settings_key(key);
  int depth = enter(s, base_section_, section);
  QString k = stored_key(s, name);
  if (k.isEmpty()) k = qs(name);
  // A QString is written quoted when it needs to be, so it reads back as the same text.
  s.setValue(k, qs(value));
  leave(s, depth);
  s.sync();
  return s.status() == QSettings::NoError;
}

bool IniSettingsStore::remove(std::string_view key) {
  std::lock_guard lock(mutex_);
  QSettings& s = impl_->settings;
  s.sync();
  auto [section, name] = split_settings_key(key);
  int depth = enter(s, base_section_, section);
  QString k = stored_key(s, name);
  if (!k.isEmpty()) s.remove(k);
  leave(s, depth);
  if (k.isEmpty()) return true;
  s.sync();
  return s.status() == QSettings::NoError;
}

std::vector<std::string> IniSettingsStore::keys(std::string_view section) const {
  std::lock_guard lock(mutex_);
  QSettings& s = impl_->settings;
  s.sync();
  int depth = enter(s, base_section_, section);
  std::vector<std::string> out;
  for (const QString& k : s.childKeys()) out.push_back(k.toStdString());
  leave(s, depth);
  return out;
}

std::unique_ptr<SettingsStore> open_program_settings() {
  return std::make_unique<IniSettingsStore>(settings_file());
}

std::unique_ptr<SettingsStore> open_registration_settings() {
  return std::make_unique<IniSettingsStore>(devices_file(), "KBA604");
}

}  // namespace kba604::platform
