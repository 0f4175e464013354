#include "frontend/status_bar.h"

#include <QEvent>
#include <QLabel>
#include <QStatusBar>
#include <QStringList>
#include <QTimer>

// A label that cuts its text with an ellipsis to its width and shows all of
// it as a tool tip. With `hintFromText` it asks for the room its whole text
// needs (up to its maximum width); otherwise the layout's stretch decides.
class ElidedLabel : public QLabel {
public:
    ElidedLabel(QWidget* parent, bool hintFromText) : QLabel(parent), hintFromText_(hintFromText) {
        setMinimumWidth(1);
    }
    void setFullText(const QString& text) {
        full_ = text;
        setToolTip(text);
        refresh();
        updateGeometry();
    }
    const QString& fullText() const { return full_; }
    QSize sizeHint() const override {
        const int h = QLabel::sizeHint().height();
        if (!hintFromText_) return {1, h};
        return {std::min(fontMetrics().horizontalAdvance(full_) + 8, maximumWidth()), h};
    }
    QSize minimumSizeHint() const override { return {1, QLabel::minimumSizeHint().height()}; }

protected:
    void resizeEvent(QResizeEvent* event) override {
        QLabel::resizeEvent(event);
        refresh();
    }

private:
    void refresh() { QLabel::setText(fontMetrics().elidedText(full_, Qt::ElideRight, std::max(1, width() - 2))); }

    QString full_;
    bool hintFromText_;
};

StatusFields::StatusFields(QStatusBar* bar) : QObject(bar), bar_(bar), flashTimer_(new QTimer(this)) {
    const char* initial[3] = {"D1: None", "D2: None", "Cass: None"};
    for (int i = 0; i < 3; ++i) {
        fields_[size_t(i)] = new ElidedLabel(bar, false);
        fields_[size_t(i)]->setFullText(initial[i]);
        // Equal stretch keeps the fields' right edges at a third, two thirds and the end.
        bar->addWidget(fields_[size_t(i)], 1);
    }
    fields_[kNotes] = new ElidedLabel(bar, true);
    bar->addPermanentWidget(fields_[kNotes]);
    bar->setSizeGripEnabled(true);
    bar->installEventFilter(this);
    flashTimer_->setSingleShot(true);
    connect(flashTimer_, &QTimer::timeout, this, [this] {
        flash_.clear();
        showNotes();
    });
}

bool StatusFields::eventFilter(QObject* watched, QEvent* event) {
    if (watched == bar_ && event->type() == QEvent::Resize) fields_[kNotes]->setMaximumWidth(bar_->width() / 3);
    return QObject::eventFilter(watched, event);
}

void StatusFields::set(int field, const QString& text) { fields_[size_t(field)]->setFullText(text); }

QString StatusFields::text(int field) const { return fields_[size_t(field)]->fullText(); }

QString StatusFields::shownText(int field) const { return fields_[size_t(field)]->text(); }

QString StatusFields::toolTip(int field) const { return fields_[size_t(field)]->toolTip(); }

void StatusFields::setState(const QString& key, const QString& text) {
    if (text.isEmpty()) states_.erase(key);
    else states_[key] = text;
    showNotes();
}

void StatusFields::flash(const QString& text) {
    flash_ = text;
    flashTimer_->start(5000);
    showNotes();
}

void StatusFields::showNotes() {
    if (!flash_.isEmpty()) {
        fields_[kNotes]->setFullText(flash_);
        return;
    }
    QStringList shown;
    for (const auto& [key, text] : states_) shown << text;
    fields_[kNotes]->setFullText(shown.join("   "));
}
