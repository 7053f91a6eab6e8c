// SPDX-License-Identifier: GPL-3.0-or-later
#include "video/sourcedialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QPushButton>
#include <QScrollArea>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>

namespace voruna {

namespace {

// What a guide camera's user reaches for first.
int rank(const DeviceControl &control)
{
    const QString name = control.name.toLower();
    if (name.contains(QLatin1String("exposure")))
        return 0;
    if (name.contains(QLatin1String("gain")))
        return 1;
    return 2;
}

void showValue(QWidget *editor, const DeviceControl &control)
{
    editor->setEnabled(!control.inactive && !control.readOnly);
    editor->setToolTip(control.changesByItself
                           ? SourceDialog::tr("The camera changes this value by itself")
                           : QString());
    if (auto *box = qobject_cast<QCheckBox *>(editor)) {
        const QSignalBlocker blocker(box);
        box->setChecked(control.value != 0);
    } else if (auto *menu = qobject_cast<QComboBox *>(editor)) {
        const QSignalBlocker blocker(menu);
        menu->setCurrentIndex(menu->findData(control.value));
    } else if (auto *spin = editor->findChild<QSpinBox *>()) {
        const QSignalBlocker blocker(spin);
        spin->setValue(control.value);
        auto *slider = editor->findChild<QSlider *>();
        const QSignalBlocker sliderBlocker(slider);
        slider->setValue(control.value);
    }
}

} // namespace

SourceDialog::SourceDialog(CaptureDevice &device, QWidget *parent)
    : QDialog(parent)
    , m_device(device)
{
    setWindowTitle(tr("Video Source"));
    auto *page = new QWidget;
    auto *form = new QFormLayout(page);
    QList<DeviceControl> controls = device.controls();
    std::stable_sort(
        controls.begin(), controls.end(),
        [](const DeviceControl &a, const DeviceControl &b) { return rank(a) < rank(b); });
    for (const DeviceControl &control : controls) {
        QWidget *editor = makeEditor(control);
        editor->setObjectName(QStringLiteral("control%1").arg(control.id));
        m_editors.insert(control.id, editor);
        if (control.updatesOthers)
            m_updatesOthers.insert(control.id);
        form->addRow(control.kind == DeviceControl::Kind::Button ? QString() : control.name,
                     editor);
    }
    auto *scroll = new QScrollArea;
    scroll->setWidget(page);
    scroll->setWidgetResizable(true);
    auto *buttons =
        new QDialogButtonBox(QDialogButtonBox::Close | QDialogButtonBox::RestoreDefaults);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(scroll);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::accept);
    connect(buttons->button(QDialogButtonBox::RestoreDefaults), &QPushButton::clicked, this,
            &SourceDialog::restoreDefaults);
    refresh();
    resize(420, std::min(560, page->sizeHint().height() + 80));
}

QWidget *SourceDialog::makeEditor(const DeviceControl &control)
{
    const quint32 id = control.id;
    switch (control.kind) {
    case DeviceControl::Kind::Boolean: {
        auto *box = new QCheckBox;
        connect(box, &QCheckBox::toggled, this, [this, id](bool on) { apply(id, on ? 1 : 0); });
        return box;
    }
    case DeviceControl::Kind::Menu: {
        auto *menu = new QComboBox;
        for (const auto &[value, text] : control.menu)
            menu->addItem(text, value);
        connect(menu, &QComboBox::activated, this,
                [this, id, menu](int index) { apply(id, menu->itemData(index).toInt()); });
        return menu;
    }
    case DeviceControl::Kind::Button: {
        auto *button = new QPushButton(control.name);
        connect(button, &QPushButton::clicked, this, [this, id] { apply(id, 1); });
        return button;
    }
    case DeviceControl::Kind::Integer:
        break;
    }
    return makeNumberEditor(control);
}

QWidget *SourceDialog::makeNumberEditor(const DeviceControl &control)
{
    auto *editor = new QWidget;
    auto *row = new QHBoxLayout(editor);
    row->setContentsMargins(0, 0, 0, 0);
    auto *slider = new QSlider(Qt::Horizontal);
    auto *spin = new QSpinBox;
    slider->setRange(control.minimum, control.maximum);
    slider->setSingleStep(control.step);
    spin->setRange(control.minimum, control.maximum);
    spin->setSingleStep(control.step);
    row->addWidget(slider, 1);
    row->addWidget(spin);
    // Each setting may be a USB transfer: a drag sends its value when the slider is let go, a
    // typed number when it is entered; arrow keys, the wheel and page steps send at once.
    spin->setKeyboardTracking(false);
    const quint32 id = control.id;
    connect(slider, &QSlider::valueChanged, this, [this, id, slider, spin](int value) {
        const QSignalBlocker blocker(spin);
        spin->setValue(value);
        if (!slider->isSliderDown())
            apply(id, value);
    });
    connect(slider, &QSlider::sliderReleased, this,
            [this, id, slider] { apply(id, slider->value()); });
    connect(spin, &QSpinBox::valueChanged, this, [this, id, slider](int value) {
        const QSignalBlocker blocker(slider);
        slider->setValue(value);
        apply(id, value);
    });
    return editor;
}

void SourceDialog::apply(quint32 id, qint32 value)
{
    m_device.setControl(id, value);
    // Reading every control back costs a transfer each: only when this one changes others.
    if (m_updatesOthers.contains(id))
        refresh();
}

void SourceDialog::restoreDefaults()
{
    for (const DeviceControl &control : m_device.controls()) {
        if (!control.readOnly && control.kind != DeviceControl::Kind::Button)
            m_device.setControl(control.id, control.defaultValue);
    }
    refresh();
}

void SourceDialog::refresh()
{
    for (const DeviceControl &control : m_device.controls()) {
        if (QWidget *editor = m_editors.value(control.id))
            showValue(editor, control);
    }
}

} // namespace voruna
