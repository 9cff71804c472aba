#include "app/TransportPage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>

namespace tarvo {

namespace {

// The transport's fields: the key they are kept under, the caption, and
// whether they belong to a tape deck.
struct TransportField {
    const char* key;
    const char* caption;
    bool tape;
};
const TransportField kFields[] = {
    {"rpm", "Platter (rpm)", false},          {"driveRatio", "Motor turns per platter turn", false},
    {"tapeSpeed", "Tape speed (cm/s)", true}, {"capstan", "Capstan (mm)", true},
    {"pinchRoller", "Pinch roller (mm)", true}, {"motorRatio", "Motor turns per capstan turn", true},
    {"reelMin", "Reel hub (mm)", true},       {"reelMax", "Reel full pack (mm)", true},
    {"poles", "Motor poles", false},          {"slots", "Motor slots", false},
};
constexpr int kFieldCount = sizeof kFields / sizeof kFields[0];
enum Kind { kNone = 0, kTurntable = 1, kTape = 2 };

// The usual speeds: a platter's in rpm, a tape's in cm/s.
struct Preset {
    const char* name;
    Kind kind;
    double speed;
};
const Preset kPresets[] = {
    {"Turntable 16 2/3 rpm", kTurntable, 50.0 / 3}, {"Turntable 22 1/2 rpm", kTurntable, 22.5},
    {"Turntable 33 1/3 rpm", kTurntable, 100.0 / 3}, {"Turntable 45 rpm", kTurntable, 45},
    {"Turntable 78 rpm", kTurntable, 78},            {"Tape 2.38 cm/s", kTape, 2.38},
    {"Tape 4.76 cm/s", kTape, 4.76},                 {"Tape 9.53 cm/s", kTape, 9.53},
    {"Tape 19.05 cm/s", kTape, 19.05},               {"Tape 38.1 cm/s", kTape, 38.1},
};

QSettings Profile()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Tarvo"), QStringLiteral("Quillon"));
}

const QString kGroup = QStringLiteral("Meter transport");

double Value(const QLineEdit* e)
{
    bool ok = false;
    const double v = e->text().trimmed().toDouble(&ok);
    return ok && v > 0 ? v : 0;
}

QString Figure(double v)
{
    if (!(v > 0))
        return {};
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.10g", v);
    return QString::fromLatin1(buf);
}

}  // namespace

QStringList TransportPage::PresetNames()
{
    QStringList names;
    for (const Preset& p : kPresets)
        names << QString::fromLatin1(p.name);
    return names;
}

TransportPage::TransportPage(QWidget* parent, const QString& storePath)
    : QWidget(parent), storePath_(storePath.isEmpty() ? meter::MachinesPath() : storePath.toStdString())
{
    auto* outer = new QVBoxLayout(this);
    auto* note = new QLabel(QStringLiteral("The parts' rotation rates name the lines of the spectrum. A transport "
                                           "applies to this file alone unless it is kept for the next files."),
                            this);
    note->setWordWrap(true);
    outer->addWidget(note);

    auto* profileRow = new QHBoxLayout;
    profile_ = new QComboBox(this);
    profile_->setMinimumContentsLength(16);
    auto* profileLabel = new QLabel(QStringLiteral("Machine profile:"), this);
    profileLabel->setBuddy(profile_);
    save_ = new QPushButton(QStringLiteral("Save as profile..."), this);
    delete_ = new QPushButton(QStringLiteral("Delete"), this);
    profileRow->addWidget(profileLabel);
    profileRow->addWidget(profile_, 1);
    profileRow->addWidget(save_);
    profileRow->addWidget(delete_);
    outer->addLayout(profileRow);

    auto* form = new QFormLayout;
    presets_ = new QComboBox(this);
    presets_->addItem(QStringLiteral("Choose a usual speed..."));
    presets_->addItems(PresetNames());
    form->addRow(QStringLiteral("Preset"), presets_);
    kind_ = new QComboBox(this);
    kind_->addItems({QStringLiteral("Not given"), QStringLiteral("Turntable"), QStringLiteral("Tape deck")});
    form->addRow(QStringLiteral("Machine"), kind_);
    for (int i = 0; i < kFieldCount; ++i) {
        fields_[i] = new QLineEdit(this);
        form->addRow(QString::fromLatin1(kFields[i].caption), fields_[i]);
    }
    outer->addLayout(form);
    keep_ = new QCheckBox(QStringLiteral("Keep for the next files"), this);
    outer->addWidget(keep_);
    again_ = new QPushButton(QStringLiteral("Measure again"), this);
    outer->addWidget(again_, 0, Qt::AlignLeft);
    outer->addStretch();

    // What was kept for the next files, and only that: otherwise a new file
    // starts with no transport.
    QSettings settings = Profile();
    settings.beginGroup(kGroup);
    const bool kept = settings.value(QStringLiteral("keep"), false).toBool();
    QString chosen;
    if (kept) {
        keep_->setChecked(true);
        kind_->setCurrentIndex(std::clamp(settings.value(QStringLiteral("kind"), 0).toInt(), 0, 2));
        for (int i = 0; i < kFieldCount; ++i)
            fields_[i]->setText(settings.value(QString::fromLatin1(kFields[i].key)).toString());
        chosen = settings.value(QStringLiteral("profile")).toString();
    }
    settings.endGroup();
    LoadProfiles(chosen);

    connect(kind_, &QComboBox::currentIndexChanged, this, &TransportPage::EnableFields);
    EnableFields();
    connect(profile_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index <= 0) {
            ShowTransport({});
        } else if (const meter::Machine* m =
                       meter::FindMachine(machines_, profile_->itemData(index).toString().toStdString())) {
            ShowTransport(m->transport);
        }
        delete_->setEnabled(index > 0);
    });
    delete_->setEnabled(profile_->currentIndex() > 0);
    connect(presets_, &QComboBox::activated, this, [this](int index) {
        if (index > 0)
            ApplyPreset(index - 1);
        presets_->setCurrentIndex(0);
    });
    connect(keep_, &QCheckBox::toggled, this, [this] { Remember(); });
    connect(save_, &QPushButton::clicked, this, &TransportPage::SaveAsked);
    connect(delete_, &QPushButton::clicked, this, &TransportPage::DeleteAsked);
    connect(again_, &QPushButton::clicked, this, &TransportPage::measureAgain);
}

void TransportPage::LoadProfiles(const QString& choose)
{
    std::string why;
    storeError_.clear();
    if (storePath_.empty())
        storeError_ = QStringLiteral("No folder for the machine profiles: neither XDG_CONFIG_HOME nor HOME is set.");
    else if (!meter::ReadMachines(storePath_, machines_, why))
        storeError_ = QString::fromStdString(why);
    const QSignalBlocker quiet(profile_);
    profile_->clear();
    profile_->addItem(QStringLiteral("None"), QString());
    for (const meter::Machine& m : machines_) {
        QString item = QString::fromStdString(m.name);
        if (!m.description.empty())
            item += QStringLiteral(" - ") + QString::fromStdString(m.description);
        profile_->addItem(item, QString::fromStdString(m.name));
    }
    profile_->setCurrentIndex(std::max(0, profile_->findData(choose)));
    profile_->setToolTip(storeError_);
    if (delete_)
        delete_->setEnabled(profile_->currentIndex() > 0);
}

void TransportPage::ShowTransport(const meter::Transport& t)
{
    kind_->setCurrentIndex(t.IsTurntable() ? kTurntable : t.IsTape() ? kTape : kNone);
    const double figures[kFieldCount] = {t.rpm,       t.driveRatio, t.tapeSpeedCmS, t.capstanMm,
                                         t.pinchRollerMm, t.motorRatio, t.reelMinMm,    t.reelMaxMm,
                                         static_cast<double>(t.motorPoles), static_cast<double>(t.motorSlots)};
    for (int i = 0; i < kFieldCount; ++i)
        fields_[i]->setText(Figure(figures[i]));
}

void TransportPage::EnableFields()
{
    for (int i = 0; i < kFieldCount; ++i) {
        const bool motor = i >= 8;
        fields_[i]->setEnabled(kind_->currentIndex() != kNone &&
                               (motor || kFields[i].tape == (kind_->currentIndex() == kTape)));
    }
}

meter::Transport TransportPage::Transport() const
{
    meter::Transport t;
    if (kind_->currentIndex() == kTurntable) {
        t.rpm = Value(fields_[0]);
        t.driveRatio = Value(fields_[1]);
    } else if (kind_->currentIndex() == kTape) {
        t.tapeSpeedCmS = Value(fields_[2]);
        t.capstanMm = Value(fields_[3]);
        t.pinchRollerMm = Value(fields_[4]);
        t.motorRatio = Value(fields_[5]);
        t.reelMinMm = Value(fields_[6]);
        t.reelMaxMm = Value(fields_[7]);
        if (!(t.reelMaxMm > t.reelMinMm))
            t.reelMinMm = t.reelMaxMm = 0;
    }
    if (kind_->currentIndex() != kNone) {
        const int poles = static_cast<int>(Value(fields_[8]));
        t.motorPoles = poles >= 2 ? poles / 2 * 2 : 0;
        t.motorSlots = static_cast<int>(Value(fields_[9]));
    }
    return t;
}

QString TransportPage::ProfileName() const { return profile_->currentData().toString(); }

QString TransportPage::ProfileDescription() const
{
    const meter::Machine* m = meter::FindMachine(machines_, ProfileName().toStdString());
    return m ? QString::fromStdString(m->description) : QString();
}

bool TransportPage::ChooseProfile(const QString& name)
{
    const int index = profile_->findData(name);
    if (index <= 0)
        return false;
    profile_->setCurrentIndex(index);
    return true;
}

void TransportPage::ApplyPreset(int n)
{
    if (n < 0 || n >= static_cast<int>(std::size(kPresets)))
        return;
    const Preset& p = kPresets[n];
    if (kind_->currentIndex() != p.kind) {
        // Another kind of machine: none of the old machine's figures stay.
        for (QLineEdit* f : fields_)
            f->clear();
        kind_->setCurrentIndex(p.kind);
    }
    fields_[p.kind == kTurntable ? 0 : 2]->setText(Figure(p.speed));
}

QString TransportPage::SaveProfile(const QString& name, const QString& description)
{
    const meter::Machine m{name.toStdString(), description.trimmed().toStdString(), Transport()};
    std::string why;
    if (storePath_.empty())
        return QStringLiteral("No folder for the machine profiles: neither XDG_CONFIG_HOME nor HOME is set.");
    if (!meter::SaveMachine(storePath_, m, why))
        return QString::fromStdString(why);
    LoadProfiles(name);
    return {};
}

QString TransportPage::DeleteProfile()
{
    const QString name = ProfileName();
    if (name.isEmpty())
        return {};
    std::string why;
    if (!meter::DeleteMachine(storePath_, name.toStdString(), why))
        return QString::fromStdString(why);
    LoadProfiles(QString());
    return {};
}

void TransportPage::Remember() const
{
    QSettings settings = Profile();
    settings.remove(kGroup);
    if (!keep_->isChecked())
        return;
    settings.beginGroup(kGroup);
    settings.setValue(QStringLiteral("keep"), true);
    settings.setValue(QStringLiteral("profile"), ProfileName());
    settings.setValue(QStringLiteral("kind"), kind_->currentIndex());
    for (int i = 0; i < kFieldCount; ++i)
        settings.setValue(QString::fromLatin1(kFields[i].key), fields_[i]->text().trimmed());
}

void TransportPage::SaveAsked()
{
    bool ok = false;
    const QString name = QInputDialog::getText(this, QStringLiteral("Save as profile"),
                                               QStringLiteral("The machine's name (\"Deck B\"):"), QLineEdit::Normal,
                                               ProfileName(), &ok)
                             .trimmed();
    if (!ok || name.isEmpty())
        return;
    QString description;
    if (const meter::Machine* m = meter::FindMachine(machines_, name.toStdString()))
        description = QString::fromStdString(m->description);
    description = QInputDialog::getText(this, QStringLiteral("Save as profile"),
                                        QStringLiteral("A description (may be empty):"), QLineEdit::Normal,
                                        description, &ok);
    if (!ok)
        return;
    const QString error = SaveProfile(name, description);
    if (!error.isEmpty())
        QMessageBox::warning(this, QStringLiteral("Save as profile"), error);
}

void TransportPage::DeleteAsked()
{
    if (ProfileName().isEmpty())
        return;
    if (QMessageBox::question(this, QStringLiteral("Delete profile"),
                              QStringLiteral("Delete the machine profile \"%1\"?").arg(ProfileName())) !=
        QMessageBox::Yes)
        return;
    const QString error = DeleteProfile();
    if (!error.isEmpty())
        QMessageBox::warning(this, QStringLiteral("Delete profile"), error);
}

}  // namespace tarvo
