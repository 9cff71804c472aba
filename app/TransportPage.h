// The meter dialog's Transport tab: the machine the figures are labelled
// with. A profile chooser ("None" and the stored profiles, the same store
// tarvo-cli --deck reads), Save as profile..., Delete, the usual speeds as
// presets, the figures themselves, "Keep for the next files" and "Measure
// again". A dialog on a new file starts with no transport unless the last
// one was kept: a setting from an earlier file is never applied unseen.
#pragma once

#include "meter/Machines.h"

#include <QWidget>

#include <vector>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

namespace tarvo {

class TransportPage : public QWidget {
    Q_OBJECT

public:
    // storePath: the machine profiles' file; empty: meter::MachinesPath().
    explicit TransportPage(QWidget* parent = nullptr, const QString& storePath = {});

    // The transport the form describes.
    meter::Transport Transport() const;
    // The profile chosen, empty for "None".
    QString ProfileName() const;
    // That profile's description, empty for none.
    QString ProfileDescription() const;

    // Chooses the stored profile of that name (its figures fill the form);
    // false when there is none.
    bool ChooseProfile(const QString& name);
    // Stores the form as the profile `name` and chooses it; empty when it
    // was stored, else why not.
    QString SaveProfile(const QString& name, const QString& description);
    // Removes the profile chosen from the store; the form keeps its figures.
    QString DeleteProfile();
    // Fills the form with the n-th preset (a platter or a tape speed).
    void ApplyPreset(int n);
    // The presets' names, in the presets box's order.
    static QStringList PresetNames();

    // The form kept for the next files when "Keep for the next files" is
    // checked; forgotten when it is not.
    void Remember() const;

    QComboBox* ProfileBox() const { return profile_; }
    QComboBox* PresetBox() const { return presets_; }
    QCheckBox* KeepBox() const { return keep_; }
    QPushButton* AgainButton() const { return again_; }
    QLineEdit* Field(int i) const { return fields_[i]; }
    QComboBox* KindBox() const { return kind_; }
    // Why the store could not be read; empty when it could.
    QString StoreError() const { return storeError_; }

signals:
    void measureAgain();

private:
    void LoadProfiles(const QString& choose);
    void ShowTransport(const meter::Transport& t);
    void EnableFields();
    void SaveAsked();
    void DeleteAsked();

    std::string storePath_;
    std::vector<meter::Machine> machines_;
    QString storeError_;
    QComboBox* profile_ = nullptr;
    QComboBox* presets_ = nullptr;
    QComboBox* kind_ = nullptr;
    QLineEdit* fields_[10] = {};
    QCheckBox* keep_ = nullptr;
    QPushButton* save_ = nullptr;
    QPushButton* delete_ = nullptr;
    QPushButton* again_ = nullptr;
};

}  // namespace tarvo
