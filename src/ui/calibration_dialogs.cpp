#include "ui/calibration_dialogs.h"
#include "ui/translation.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <atomic>

#include "calibration/calibration_texts.h"
#include "operations/device.h"

namespace kba604::Dialogs {

template <class Logic>
struct CalibrationSession {
  template <class... Rest>
  CalibrationSession(calibration::CalibrationLink& link, Prompter& ui_prompter, Rest&&... rest)
      : relay(ui_prompter,
              [](std::function<void()> f) {
                // Questions of the worker are asked on the UI thread, in its event loop.
                QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(f),
                                          Qt::QueuedConnection);
              }),
        logic(link, relay, std::forward<Rest>(rest)...) {}

  calibration::RelayPrompter relay;
  Logic logic;
  std::atomic<int> pending{0};  // jobs posted and not yet done
};

namespace {

constexpr int kRefreshMs = 15;

void fill(QComboBox* box, const std::vector<std::string>& items, int current) {
  QStringList wanted;
  for (const std::string& s : items) wanted << utf8_text(s);
  QStringList shown;
  for (int i = 0; i < box->count(); ++i) shown << box->itemText(i);
  if (shown != wanted) {
    box->clear();
    box->addItems(wanted);
  }
  box->setCurrentIndex(current >= 0 && current < box->count() ? current : -1);
}

}  // namespace

// ---- CCalibrate -----------------------------------------------------------------------------

CCalibrate::CCalibrate(const CalibrationContext& context, calibration::WrongCodeCount& wrong_codes,
                       int access_level, int modification, QWidget* parent)
    : QDialog(parent),
      context_(context),
      session_(std::make_shared<CalibrationSession<calibration::CalibrationSelection>>(
          context.link, context.prompter, wrong_codes, access_level, modification)) {
  setWindowTitle(tr("Создание юстировки"));
  setModal(true);

  types_ = new QComboBox(this);
  for (int type : session_->logic.view().types)
    types_->addItem(utf8_text(calibration::type_entry(type)));
  description_ = new QLabel(this);
  description_->setWordWrap(true);
  description_->setMinimumWidth(420);
  sensor_label_ = new QLabel(tr("Тип датчика:"), this);
  sensors_ = new QComboBox(this);
  input_label_ = new QLabel(tr("Номер входа:"), this);
  inputs_ = new QComboBox(this);
  code_label_ = new QLabel(tr("Введите код доступа:"), this);
  code_ = new QLineEdit(this);
  code_->setEchoMode(QLineEdit::Password);
  sensor_label_->setBuddy(sensors_);
  input_label_->setBuddy(inputs_);
  code_label_->setBuddy(code_);
  continue_ = new QPushButton(tr("Продолжить"), this);
  cancel_ = new QPushButton(tr("Отмена"), this);
  continue_->setDefault(true);
  // Enter means "Продолжить" wherever the focus went while the dialog was busy.
  cancel_->setAutoDefault(false);

  auto* layout = new QVBoxLayout(this);
  auto* type_label = new QLabel(tr("Выберите тип:"), this);
  type_label->setBuddy(types_);
  layout->addWidget(type_label);
  layout->addWidget(types_);
  layout->addWidget(description_);
  layout->addWidget(sensor_label_);
  layout->addWidget(sensors_);
  layout->addWidget(input_label_);
  layout->addWidget(inputs_);
  layout->addWidget(code_label_);
  layout->addWidget(code_);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(continue_);
  buttons->addWidget(cancel_);
  layout->addLayout(buttons);

  connect(types_, &QComboBox::activated, this, [this](int index) {
    std::vector<int> types = session_->logic.view().types;
    if (index < 0 || index >= static_cast<int>(types.size())) return;
    const int type = types[static_cast<std::size_t>(index)];
    post([type](calibration::CalibrationSelection& s) { s.choose_type(type); });
  });
  // Choosing a sensor exchanges nothing: it is taken at once, so quick keys are never lost.
  connect(sensors_, &QComboBox::activated, this, [this](int index) {
    session_->logic.choose_sensor(index);
    refresh();
  });
  connect(inputs_, &QComboBox::activated, this, [this](int index) {
    post([index](calibration::CalibrationSelection& s) { s.choose_input(index); });
  });
  connect(continue_, &QPushButton::clicked, this, [this] {
    std::string code = code_->text().toStdString();
    post([code](calibration::CalibrationSelection& s) { s.press_continue(code); });
  });
  connect(cancel_, &QPushButton::clicked, this, &CCalibrate::reject);
  connect(&timer_, &QTimer::timeout, this, &CCalibrate::refresh);
  timer_.start(kRefreshMs);
  refresh();
  types_->setFocus();
}

CCalibrate::~CCalibrate() {
  timer_.stop();
  session_->relay.abandon();
}

calibration::StepsStart CCalibrate::steps_start() const {
  return session_->logic.steps_start();
}

bool CCalibrate::busy() const {
  return session_->pending.load() > 0;
}

void CCalibrate::post(std::function<void(calibration::CalibrationSelection&)> job) {
  std::shared_ptr<CalibrationSession<calibration::CalibrationSelection>> s = session_;
  ++s->pending;
  context_.queue.post([s, job = std::move(job)] {
    job(s->logic);
    --s->pending;
  });
  refresh();
}

void CCalibrate::reject() {
  post([](calibration::CalibrationSelection& s) { s.press_cancel(); });
}

void CCalibrate::refresh() {
  const bool is_busy = busy();
  const std::uint64_t revision = session_->logic.revision();
  const bool revised = revision != shown_revision_;
  if (!revised && is_busy == busy_shown_) return;
  shown_revision_ = revision;
  busy_shown_ = is_busy;

  // The lists are filled only from a new state of the selection. A choice just made is posted
  // to the worker; until the worker has taken it the old state would put the lists back where
  // they were, and the person would see the choice jump away and return.
  if (revised) {
    const calibration::SelectionView v = session_->logic.view();
    for (std::size_t i = 0; i < v.types.size(); ++i) {
      if (v.types[i] == v.type) types_->setCurrentIndex(static_cast<int>(i));
    }
    description_->setText(utf8_text(v.description));
    sensor_label_->setVisible(v.sensors_shown);
    sensors_->setVisible(v.sensors_shown);
    fill(sensors_, v.sensors, v.sensor);
    input_label_->setVisible(v.inputs_shown);
    inputs_->setVisible(v.inputs_shown);
    fill(inputs_, v.inputs, v.input);
    code_label_->setVisible(v.code_shown);
    code_->setVisible(v.code_shown);
  }
  for (QWidget* w : {static_cast<QWidget*>(types_), static_cast<QWidget*>(sensors_),
                     static_cast<QWidget*>(inputs_), static_cast<QWidget*>(continue_)}) {
    w->setEnabled(!is_busy);
  }
  if (is_busy) {
    setCursor(Qt::BusyCursor);
  } else {
    unsetCursor();
  }

  const calibration::SelectionEnd end = session_->logic.end();
  if (end != calibration::SelectionEnd::Open && !is_busy) {
    timer_.stop();
    done(end == calibration::SelectionEnd::Continued ? Accepted : Rejected);
  }
}

// ---- CCalibrate2 ----------------------------------------------------------------------------

CCalibrate2::CCalibrate2(const CalibrationContext& context, calibration::StepsStart start,
                         QWidget* parent)
    : QDialog(parent),
      context_(context),
      session_(std::make_shared<CalibrationSession<calibration::CalibrationSteps>>(
          context.link, context.prompter, context.clock, std::move(start))) {
  setModal(true);
  text_ = new QPlainTextEdit(this);
  text_->setReadOnly(true);
  text_->setMinimumSize(520, 220);
  status_ = new QLineEdit(this);
  status_->setReadOnly(true);
  continue_ = new QPushButton(tr("Продолжить"), this);
  cancel_ = new QPushButton(tr("Отмена"), this);
  continue_->setDefault(true);
  // Enter means "Продолжить" wherever the focus went while the dialog was busy.
  cancel_->setAutoDefault(false);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(text_);
  layout->addWidget(status_);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(continue_);
  buttons->addWidget(cancel_);
  layout->addLayout(buttons);

  connect(continue_, &QPushButton::clicked, this,
          [this] { post([](calibration::CalibrationSteps& s) { s.press_continue(); }); });
  connect(cancel_, &QPushButton::clicked, this, &CCalibrate2::reject);
  connect(&timer_, &QTimer::timeout, this, &CCalibrate2::refresh);
  timer_.start(kRefreshMs);
  refresh();
  continue_->setFocus();
}

CCalibrate2::~CCalibrate2() {
  timer_.stop();
  std::shared_ptr<CalibrationSession<calibration::CalibrationSteps>> s = session_;
  s->logic.request_stop();
  s->relay.abandon();
  context_.queue.post([s] { s->logic.dialog_gone(); });
}

calibration::FollowUp CCalibrate2::follow_up() const {
  return session_->logic.follow_up();
}

bool CCalibrate2::busy() const {
  return session_->pending.load() > 0;
}

void CCalibrate2::post(std::function<void(calibration::CalibrationSteps&)> job) {
  std::shared_ptr<CalibrationSession<calibration::CalibrationSteps>> s = session_;
  ++s->pending;
  context_.queue.post([s, job = std::move(job)] {
    job(s->logic);
    --s->pending;
  });
  refresh();
}

void CCalibrate2::reject() {
  if (cancelling_) return;
  cancelling_ = true;
  // The stop ends a wait in progress at once; the cancel follows the step that was running.
  session_->logic.request_stop();
  post([](calibration::CalibrationSteps& s) { s.press_cancel(); });
}

void CCalibrate2::refresh() {
  const bool is_busy = busy();
  const std::uint64_t revision = session_->logic.revision();
  if (revision == shown_revision_ && is_busy == busy_shown_) return;
  shown_revision_ = revision;
  busy_shown_ = is_busy;

  const calibration::StepView v = session_->logic.view();
  setWindowTitle(utf8_text(v.caption));
  const QString text = utf8_text(v.main_text);
  if (text_->toPlainText() != text) text_->setPlainText(text);
  status_->setText(utf8_text(v.status));
  continue_->setVisible(v.continue_visible);
  continue_->setEnabled(v.continue_enabled && !is_busy && !cancelling_);
  if (is_busy) {
    setCursor(Qt::BusyCursor);
  } else {
    unsetCursor();
  }

  const calibration::StepsEnd end = session_->logic.end();
  if (end != calibration::StepsEnd::Open && !is_busy) {
    timer_.stop();
    done(end == calibration::StepsEnd::Continued ? Accepted : Rejected);
  }
}

// ---- the wizard -----------------------------------------------------------------------------

QtCalibrationDialogs::QtCalibrationDialogs(const CalibrationContext& context,
                                           calibration::WrongCodeCount& wrong_codes,
                                           int access_level, int modification, QWidget* parent)
    : context_(context),
      wrong_codes_(wrong_codes),
      access_level_(access_level),
      modification_(modification),
      parent_(parent) {}

calibration::SelectionEnd QtCalibrationDialogs::run_selection(calibration::StepsStart& start) {
  CCalibrate dialog(context_, wrong_codes_, access_level_, modification_, parent_);
  if (dialog.exec() != QDialog::Accepted) return calibration::SelectionEnd::Cancelled;
  start = dialog.steps_start();
  return calibration::SelectionEnd::Continued;
}

calibration::FollowUp QtCalibrationDialogs::run_steps(const calibration::StepsStart& start) {
  CCalibrate2 dialog(context_, start, parent_);
  dialog.exec();
  return dialog.follow_up();
}

bool run_calibration_wizard(Device& device, Prompter& prompter, int access_level, int modification,
                            QWidget* parent, platform::Clock& clock) {
  calibration::DeviceCalibrationLink link(device);
  calibration::TaskQueue queue;
  CalibrationContext context{link, prompter, clock, queue};
  QtCalibrationDialogs dialogs(context, calibration::program_wrong_code_count(), access_level,
                               modification, parent);
  const bool continued = calibration::run_wizard(dialogs, prompter);
  // The last "CLB.A" goes out while the window keeps painting; every job ends within the
  // time-outs of one exchange.
  QEventLoop loop;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (queue.idle()) loop.quit();
  });
  poll.start(10);
  if (!queue.idle()) loop.exec();
  return continued;
}

}  // namespace kba604::Dialogs
