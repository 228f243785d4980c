#include "ui/translation.h"

#include <QCoreApplication>
#include <QFile>
#include <QLibraryInfo>
#include <QRegularExpression>
#include <QTranslator>
#include <QXmlStreamReader>
#include <atomic>
#include <mutex>
#include <vector>

#include "app/translatable.h"

// The catalogue is compiled into the window's static library, whose resources are registered
// by hand before their first use.
static void register_catalogue() {
  Q_INIT_RESOURCE(kba604_translations);
}

namespace kba604 {

namespace {

constexpr const char* kCatalogue = ":/i18n/kba604_en.qm";
// The catalogue's source, for the message templates: a compiled catalogue looks texts up but
// cannot list them.
constexpr const char* kCatalogueSource = ":/i18n/kba604_en.ts";
constexpr const char* kMessagesContext = "Messages";

std::mutex mutex;
QTranslator* translator = nullptr;  // made once, kept for the life of the process
std::atomic<bool> english{false};
bool installed = false;  // on the application of the moment
// Qt's own Russian texts (the standard buttons "Yes", "No", "Cancel", the file dialogs), from
// the Qt translations the system has; installed while the program speaks Russian.
QTranslator* qt_russian = nullptr;
bool qt_russian_installed = false;

// Follows the language for Qt's own texts; nothing happens when the system has no Russian
// catalogue of Qt's (the buttons then stay as Qt has them).
void follow_with_qt_texts(bool in_english) {
  if (QCoreApplication::instance() == nullptr) {
    qt_russian_installed = false;
    return;
  }
  if (!in_english && !qt_russian_installed) {
    if (qt_russian == nullptr) {
      auto* loaded = new QTranslator;
      if (!loaded->load(QStringLiteral("qtbase_ru"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete loaded;
        return;
      }
      qt_russian = loaded;
    }
    qt_russian_installed = QCoreApplication::installTranslator(qt_russian);
  } else if (in_english && qt_russian_installed) {
    QCoreApplication::removeTranslator(qt_russian);
    qt_russian_installed = false;
  }
}

// A printf conversion as the core's formats use them, or "%%".
const QRegularExpression& conversion() {
  static const QRegularExpression re(
      QStringLiteral("%%|%[-+ #0]*\\d*(?:\\.\\d+)?(?:hh|h|ll|l|z)?[diouxXcsfgeE]"));
  return re;
}

// One message template with a conversion in it, as a pattern that finds the values in a text
// made from it, and its translation.
struct Template {
  QRegularExpression pattern;
  QString translation;
};

QString pattern_of(const QString& source) {
  const bool multiline = source.contains(QLatin1Char('\n'));
  QString pattern = QStringLiteral("^");
  qsizetype at = 0;
  QRegularExpressionMatchIterator it = conversion().globalMatch(source);
  while (it.hasNext()) {
    const QRegularExpressionMatch m = it.next();
    pattern += QRegularExpression::escape(source.mid(at, m.capturedStart() - at));
    const QString c = m.captured();
    const QChar kind = c.back();
    if (c == QStringLiteral("%%")) {
      pattern += QStringLiteral("%");
    } else if (kind == 'd' || kind == 'i' || kind == 'u') {
      pattern += QStringLiteral("([-+ ]?\\d+)");
    } else if (kind == 'x' || kind == 'X' || kind == 'o') {
      pattern += QStringLiteral("([0-9A-Fa-f]+)");
    } else if (kind == 'c') {
      pattern += QStringLiteral("(.)");
    } else if (multiline) {
      pattern += QStringLiteral("(.*?)");
    } else {
      // A template of one line matches one line: a box of several lines is looked up line by
      // line (translate_message) rather than swallowed by its first line's template.
      pattern += QStringLiteral("([^\\n]*?)");
    }
    at = m.capturedEnd();
  }
  pattern += QRegularExpression::escape(source.mid(at)) + QStringLiteral("$");
  return pattern;
}

std::vector<Template> read_templates() {
  std::vector<Template> list;
  QFile file(QString::fromLatin1(kCatalogueSource));
  if (!file.open(QIODevice::ReadOnly)) return list;
  QXmlStreamReader xml(&file);
  QString context, source, translation;
  while (!xml.atEnd()) {
    if (!xml.readNextStartElement()) continue;
    const auto name = xml.name();
    if (name == QStringLiteral("name")) {
      context = xml.readElementText();
    } else if (name == QStringLiteral("source")) {
      source = xml.readElementText();
    } else if (name == QStringLiteral("translation")) {
      translation = xml.readElementText();
      if (context == QLatin1String(kMessagesContext) && !translation.isEmpty() &&
          source.contains(conversion())) {
        QRegularExpression re(pattern_of(source), QRegularExpression::DotMatchesEverythingOption);
        if (re.isValid()) list.push_back({std::move(re), translation});
      }
    }
  }
  return list;
}

const std::vector<Template>& templates() {
  static const std::vector<Template> list = read_templates();
  return list;
}

// translation with its conversions replaced, in order, by the values found in the text.
QString fill(const QString& translation, const QRegularExpressionMatch& values) {
  QString out;
  qsizetype at = 0;
  int next = 1;
  QRegularExpressionMatchIterator it = conversion().globalMatch(translation);
  while (it.hasNext()) {
    const QRegularExpressionMatch m = it.next();
    out += translation.mid(at, m.capturedStart() - at);
    out += m.captured() == QStringLiteral("%%") ? QStringLiteral("%") : values.captured(next++);
    at = m.capturedEnd();
  }
  return out + translation.mid(at);
}

std::string core_translation(std::string_view context, std::string_view text) {
  std::lock_guard lock(mutex);
  if (!english.load() || translator == nullptr) return {};
  const std::string c(context);
  const std::string t(text);
  return translator->translate(c.c_str(), t.c_str()).toStdString();
}

}  // namespace

bool use_english(bool want) {
  std::lock_guard lock(mutex);
  if (want && translator == nullptr) {
    register_catalogue();
    auto* loaded = new QTranslator;
    if (!loaded->load(QString::fromLatin1(kCatalogue))) {
      delete loaded;
      english.store(false);
      set_text_translator(nullptr);
      return false;
    }
    translator = loaded;
  }
  english.store(want && translator != nullptr);
  set_text_translator(english.load() ? core_translation : nullptr);
  if (QCoreApplication::instance() != nullptr && translator != nullptr) {
    if (english.load() && !installed) {
      installed = QCoreApplication::installTranslator(translator);
    } else if (!english.load() && installed) {
      QCoreApplication::removeTranslator(translator);
      installed = false;
    }
  } else {
    installed = false;
  }
  follow_with_qt_texts(english.load());
  return english.load() == want;
}

bool english_in_use() {
  return english.load();
}

namespace {

// The translation of one whole text, exact or by its template; null when the catalogue has
// neither.
QString translate_whole(const QString& own) {
  {
    std::lock_guard lock(mutex);
    const QString exact = translator->translate(kMessagesContext, own.toUtf8().constData());
    if (!exact.isEmpty()) return exact;
  }
  for (const Template& t : templates()) {
    const QRegularExpressionMatch m = t.pattern.match(own);
    if (m.hasMatch()) return fill(t.translation, m);
  }
  return {};
}

}  // namespace

QString translate_message(std::string_view text) {
  const QString own = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  if (!english.load() || text.empty()) return own;
  const QString whole = translate_whole(own);
  if (!whole.isNull()) return whole;
  // A box the core put together line by line ("Прибор: KBA604\nВерсия прошивки: 2.1") gets
  // each line the catalogue knows in English; the others (a parameter's note) stay as they are.
  if (!own.contains(QLatin1Char('\n'))) return own;
  QStringList lines = own.split(QLatin1Char('\n'));
  for (QString& line : lines) {
    if (line.isEmpty()) continue;
    const QString t = translate_whole(line);
    if (!t.isNull()) line = t;
  }
  return lines.join(QLatin1Char('\n'));
}

}  // namespace kba604
