// The options window `frmOpt1`: the settings record shown in controls on three tabs
// ("Option setup", "EQ setup", "-----") with OK and Cancel.  GUI thread only.
//
// The window edits the live record it is given (the main window's `Settings`) as each
// control changes, so the program acts on a change at once (the spectrum switch, the
// equalizer, which reaches the decoder as the sliders move; ReplayGain and the output
// device reach it on OK).  formLoad reads the record
// from the file; OK saves it; closing the window, by OK or Cancel, reads it again from the
// file, so unsaved changes are dropped and the decoder hears the saved equalizer.  The
// window is made for one use: its owner creates it, calls formLoad, shows it modally and
// deletes it.
#pragma once

#include "decoderapi.h"
#include "outputdevicechoice.h"
#include "settings.h"

#include <QDialog>

#include <functional>

class QCheckBox;
class QComboBox;
class QScrollBar;
class QRadioButton;

namespace kes
{

class Prompter;
class TabControl;

class OptionsWindow : public QDialog
{
    Q_OBJECT
public:
    struct Context {
        DecoderApi api;
        Prompter *prompter = nullptr;
        QString iniPath; // the settings file
        // The folder selected in the folder search window; unset: `Cmd_OP_Path` does nothing.
        std::function<QString()> currentFolder;
        // Gives the folder search window's file list a new pattern (on OK).
        std::function<void(const QString &)> setSearchPattern;
    };

    // live must outlive the window.
    OptionsWindow(Settings &live, const Context &context, QWidget *parent = nullptr);

    // Loads the record from the file (and applies the equalizer preset), shows it, centres
    // the window on its screen and opens the first tab.
    void formLoad();

    void cmdOK_Click();
    void cmdCancel_Click();
    void Cmd_OP_Path_Click();
    void Eq_true_Click();
    void Opt_eq_Click(int index);
    void VScroll1_Change(int index);
    void Cmd_save_Click();

    TabControl *tabs() const { return m_tab; }
    // The devices the library listed (empty until devicesListed).
    const QList<OutputDeviceEntry> &devices() const { return m_devices; }

signals:
    // The library's device list has reached the output device combo.
    void devicesListed();

protected:
    // Escape and the close box count as Cancel.
    void reject() override;

private:
    void buildOptionTab(QWidget *page);
    void buildEqTab(QWidget *page);
    void buildPrintTab(QWidget *page);
    void buildPlayerTab(QWidget *page);
    // Binds the controls named in the settings key table to the record's fields.
    void bindControls();
    // Puts every field of the record into its control, without the change handlers.
    void showRecord();
    void moveSlider(int index, int position);
    // The end of every use: the record as the file holds it, equalizer included.
    void reloadRecord();
    // Fills the output device combo: "default", devices, and the chosen one if missing.
    void showDevices(const QList<OutputDeviceEntry> &devices);

    Settings &m_live;
    Context m_ctx;
    TabControl *m_tab = nullptr;
    QCheckBox *m_eqTrue = nullptr;
    QScrollBar *m_sliders[10] = {};
    QRadioButton *m_presets[6] = {};
    QComboBox *m_device = nullptr; // cmbOutputDevice
    QList<OutputDeviceEntry> m_devices;
    bool m_showing = false; // showRecord() is moving the controls
    bool m_closed = false;
};

} // namespace kes
