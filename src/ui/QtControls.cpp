#include "ui/QtControls.h"

#include <QLineEdit>
#include <QMetaObject>
#include <QThread>
#include <QVariant>
#include <cstdlib>
#include <numeric>

namespace kvq::ui {

namespace {

// The first tick of the current range, kept on the slider itself: Qt draws
// ticks at a fixed interval from the minimum, and the actuator adds one at
// every whole degree from the minimum.
constexpr const char* FirstTickProperty = "kvqFirstTick";

}  // namespace

UiMailbox::UiMailbox(QWidget* widget) : QObject(widget) {}

void UiMailbox::Post(std::function<void()> call) {
    if (QThread::currentThread() == thread()) {
        Drain();  // the calls already waiting come first
        call();
        return;
    }
    std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call));
    if (!drainQueued_) {
        drainQueued_ = true;
        QMetaObject::invokeMethod(this, "Drain", Qt::QueuedConnection);
    }
}

void UiMailbox::Drain() {
    std::deque<std::function<void()>> calls;
    {
        std::lock_guard lock(mutex_);
        calls.swap(calls_);
        drainQueued_ = false;
    }
    for (auto& call : calls)
        call();
}

QtTiltSlider::QtTiltSlider(QSlider* slider) : slider_(slider), mailbox_(new UiMailbox(slider)) {
    position_.store(slider->value());
    mirror_ = QObject::connect(slider, &QSlider::valueChanged,
                               [this](int value) { position_.store(value); });
}

QtTiltSlider::~QtTiltSlider() {
    Detach();
}

void QtTiltSlider::Detach() {
    std::lock_guard lock(mutex_);
    QObject::disconnect(mirror_);
    mailbox_ = nullptr;
}

void QtTiltSlider::OnUiThread(std::function<void(QSlider&)> call) {
    std::lock_guard lock(mutex_);
    if (mailbox_) mailbox_->Post([slider = slider_, call = std::move(call)] { call(*slider); });
}

void QtTiltSlider::SetRange(std::int32_t minimum, std::int32_t maximum) {
    OnUiThread([minimum, maximum](QSlider& slider) {
        slider.setRange(minimum, maximum);
        slider.setProperty(FirstTickProperty, QVariant());
        slider.setTickInterval(0);
    });
}

void QtTiltSlider::AddTick(std::int32_t position) {
    OnUiThread([position](QSlider& slider) {
        const QVariant first = slider.property(FirstTickProperty);
        if (!first.isValid()) {
            slider.setProperty(FirstTickProperty, position);
        } else if (const int distance = std::abs(position - first.toInt()); distance > 0) {
            // Every tick so far lies on the interval's grid.
            slider.setTickInterval(std::gcd(slider.tickInterval(), distance));
        }
    });
}

void QtTiltSlider::SetPosition(std::int32_t position) {
    OnUiThread([position](QSlider& slider) { slider.setValue(position); });
}

QtModelList::QtModelList(QComboBox* combo) : combo_(combo), mailbox_(new UiMailbox(combo)) {}

QtModelList::~QtModelList() {
    Detach();
}

void QtModelList::Detach() {
    std::lock_guard lock(mutex_);
    mailbox_ = nullptr;
}

void QtModelList::OnUiThread(std::function<void(QComboBox&)> call) {
    std::lock_guard lock(mutex_);
    if (mailbox_) mailbox_->Post([combo = combo_, call = std::move(call)] { call(*combo); });
}

void QtModelList::AddModelName(std::string_view name) {
    const QString text = QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
    OnUiThread([text](QComboBox& combo) {
        int at = 0;
        while (at < combo.count() &&
               QString::compare(combo.itemText(at), text, Qt::CaseInsensitive) <= 0) {
            ++at;
        }
        combo.insertItem(at, text);
    });
}

namespace {

// Selecting an entry also puts its text in the edit field, even when the entry
// was selected already and the user has typed over it since. The field shows
// the start of the name: with the cursor left at the end, a name wider than
// the field was shown cut off on the left.
void Select(QComboBox& combo, int index) {
    combo.setCurrentIndex(index);
    if (combo.isEditable()) combo.setEditText(index >= 0 ? combo.itemText(index) : QString());
    if (QLineEdit* edit = combo.lineEdit()) edit->setCursorPosition(0);
}

}  // namespace

void QtModelList::SelectFirstEntry() {
    OnUiThread([](QComboBox& combo) { Select(combo, combo.count() > 0 ? 0 : -1); });
}

void QtModelList::SelectModelName(std::string_view name) {
    const QString text = QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
    OnUiThread([text](QComboBox& combo) {
        const int at = combo.findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (at >= 0) Select(combo, at);
    });
}

}  // namespace kvq::ui
