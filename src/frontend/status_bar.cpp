#include "frontend/status_bar.h"

#include <QLabel>
#include <QStatusBar>
#include <QStringList>
#include <QTimer>

StatusFields::StatusFields(QStatusBar* bar) : QObject(bar), flashTimer_(new QTimer(this)) {
    const char* initial[3] = {"D1: None", "D2: None", "Cass: None"};
    for (int i = 0; i < 3; ++i) {
        fields_[size_t(i)] = new QLabel(initial[i], bar);
        fields_[size_t(i)]->setMinimumWidth(1);
        // Equal stretch keeps the fields' right edges at a third, two thirds and the end.
        bar->addWidget(fields_[size_t(i)], 1);
    }
    fields_[kNotes] = new QLabel(bar);
    bar->addPermanentWidget(fields_[kNotes]);
    bar->setSizeGripEnabled(true);
    flashTimer_->setSingleShot(true);
    connect(flashTimer_, &QTimer::timeout, this, [this] {
        flash_.clear();
        showNotes();
    });
}

void StatusFields::set(int field, const QString& text) { fields_[size_t(field)]->setText(text); }

QString StatusFields::text(int field) const { return fields_[size_t(field)]->text(); }

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
        fields_[kNotes]->setText(flash_);
        return;
    }
    QStringList shown;
    for (const auto& [key, text] : states_) shown << text;
    fields_[kNotes]->setText(shown.join("   "));
}
