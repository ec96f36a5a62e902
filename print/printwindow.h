// The CD jacket print window `print1`: picks the insert shape and the track list layout,
// previews both in `PicWork` at the printed size, and prints the outline, the track list
// or both on one page through QPrinter.  Modal, GUI thread only.
//
// The playlist, the prompter and the settings record belong to the main window and
// outlive this window; the playlist does not change while the window is open (modal).
#pragma once

#include "jacketpainter.h"

#include <QDialog>
#include <QPrinter>

#include <functional>

class QComboBox;
class QRadioButton;

namespace kes
{

class JacketPreview;
class PlaylistModel;
class Prompter;
struct Settings;

class PrintWindow : public QDialog
{
    Q_OBJECT
public:
    // Shows the print dialog for the printer: true to print, false when cancelled.
    using PrintDialogHook = std::function<bool(QPrinter &printer)>;

    PrintWindow(const PlaylistModel *playlist, Prompter *prompter, const Settings *settings, QWidget *parent = nullptr);
    ~PrintWindow() override;

    // Runs the opening steps and, unless the user declined a long playlist, shows the
    // window modally until it is closed.
    void showModal();
    // The opening steps: counts the rows (asking on 160 or more), fills and presets the
    // lists, picks the back inlay and empties the preview.  False when the user declined;
    // the window is then closed.
    bool formLoad();

    void CmdDataSet_Click();
    void Option1_Click(int index);
    void CmdLblPr_Click();
    void CmdDataPrint_Click();
    void Cmd_Print_Al_Click();
    void Cmd_close_Click();
    void optionClick();

    JacketShape shape() const;
    TrackListLayout layout() const;
    int rowCount() const { return m_rowCount; }
    JacketPreview *picWork() const { return m_picWork; }
    // The printer every command prints to; the print dialog's choices stay on it.
    QPrinter &printer() { return m_printer; }

    // Replaces the print dialog (tests answer it without showing it).
    void setPrintDialog(PrintDialogHook hook) { m_printDialog = std::move(hook); }
    // What the menu "オプション" runs: the application opens the options window modally.
    // Without a hook the menu does nothing.
    void setOptionsHook(std::function<void()> hook) { m_optionsHook = std::move(hook); }

protected:
    void hideEvent(QHideEvent *event) override;

private:
    void buildControls();
    QList<JacketEntry> entries() const;
    // Whether a row the track list shows (the first 2 x "Max Line" rows) still waits for
    // its tags (TrackAdder fills them): its cells hold the file name standing in for the
    // title until then.
    bool tagsPending() const;
    // Runs then at once, or when no row the track list shows waits for its tags any more.
    // The preview and the print wait apart: a later call replaces only the earlier one of
    // its kind.  A waiting print shows a busy cursor; closing the window drops it.  A
    // jacket never shows a stand-in.
    enum class Waiter { Preview, Print };
    void afterTags(Waiter waiter, std::function<void()> then);
    void runAfterTags();
    // One page on the printer: the outline when outline is set, then the track list.  A
    // track list colour that is no palette index draws no track list, and a page that
    // would hold nothing is not sent at all.
    void printPage(bool outline);
    void drawTrackListInPreview();
    void drawOutlineInPreview();
    bool askPrinter();

    const PlaylistModel *m_playlist;
    Prompter *m_prompter;
    const Settings *m_settings;
    int m_rowCount = 0; // playlist rows counted at opening
    QPrinter m_printer { QPrinter::HighResolution };
    PrintDialogHook m_printDialog;
    std::function<void()> m_optionsHook;
    std::function<void()> m_afterTags[2]; // by Waiter

    QRadioButton *m_option1[2] = {};
    QComboBox *m_combo[5] = {};
    JacketPreview *m_picWork = nullptr;
};

} // namespace kes
