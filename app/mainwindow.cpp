#include "mainwindow.h"

#include "aboutwindow.h"
#include "classiclook.h"
#include "clicklabel.h"
#include "coverart.h"
#include "findwindow.h"
#include "foldersearchwindow.h"
#include "lyricsview.h"
#include "optionswindow.h"
#include "playingrowdelegate.h"
#include "playlistcommands.h"
#include "playlistmodel.h"
#include "popupmenu.h"
#include "printwindow.h"
#include "replaygainentry.h"
#include "rowactions.h"
#include "seekbar.h"
#include "tabcontrol.h"
#include "tagwindows.h"
#include "toolbaricons.h"
#include "trimnull.h"
#include "twips.h"
#include "videowindowpresenter.h"
#include "wavebox.h"

#include <QCloseEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMimeData>
#include <QPushButton>
#include <QShortcut>
#include <QStyle>
#include <QToolButton>

#include <algorithm>
#include <memory>
#include <optional>
#include <utility>

namespace kes
{

namespace
{

constexpr int kFullHeight = 4830;
constexpr int kCompactHeight = 1830;
constexpr int kStartWidth = 5850;

// A compositor may refuse to give back a minimised window: there the main window stays
// as it is while the video window plays.
bool onWayland()
{
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

// The selected rows, 1-based and ascending.
QList<int> selectedRows(const QTreeView &view)
{
    QList<int> rows;
    for (const QModelIndex &index : view.selectionModel()->selectedRows())
        rows.append(index.row() + 1);
    std::sort(rows.begin(), rows.end());
    return rows;
}

} // namespace

MainWindow::MainWindow(const Context &context, QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("kestrine"));
    setWindowTitle(QStringLiteral("kestrine"));
    setWindowIcon(QIcon(applicationIcon(64)));
    setFont(windowFont());
    buildControls();
    buildPopupMenu();
    m_session = std::make_unique<PlayerSession>(context,
        PlayerSession::Bindings {
            static_cast<PlaybackView &>(*this), [this] { return playMode(); }, [this] { return repeatOn(); } },
        this);
    bindPlaylist();
    buildShortcuts();
    nameForAccessibility();
    setWindowSizeTwips(kStartWidth, kFullHeight);
}

MainWindow::~MainWindow()
{
    formUnload();
}

void MainWindow::bindPlaylist()
{
    PlaylistModel *const list = m_session->playlist();
    PlaybackController *const playback = m_session->controller();
    const PlayerSession::Context &ctx = m_session->context();
    m_videoWindow = std::make_unique<VideoWindowPresenter>(
        VideoWindow::Context { list, &m_session->playbackState(), m_session->sequencer(), ctx.api, ctx.prompter });
    playback->setVideoPresenter(m_videoWindow.get());
    connect(playback, &PlaybackController::mixerVolumeChanged, this, &MainWindow::mixerVolume);
    // Queued: a handed-back track starts once the video window has finished closing.
    connect(m_videoWindow.get(), &VideoWindowPresenter::closed, playback, &PlaybackController::videoClosed,
        Qt::QueuedConnection);
    // Only dragging the thumb seeks; the next tick puts the thumb back otherwise.
    connect(m_seekbar, &QScrollBar::sliderMoved, playback, &PlaybackController::seekbarScroll);
    connect(m_seekbar, &QScrollBar::sliderMoved, this, &MainWindow::seeked);
    connect(m_session->coverArt(), &CoverArt::found, this, &MainWindow::showCover);
    m_lyricsView
        = std::make_unique<LyricsView>(m_lyricsBox, m_pop, *playback, m_session->settings(), ctx.lyricsCacheDir);
    connect(m_session.get(), &PlayerSession::trackShown, this, &MainWindow::trackShown);
    connect(m_session.get(), &PlayerSession::currentRowRestored, this, [this](int row) {
        selectRow(row);
        m_listView->scrollTo(playlist()->index(row - 1, 0));
    });

    m_listView->setModel(list);
    m_listView->setItemDelegate(new PlayingRowDelegate(m_listView));
    m_listView->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_listView->setAcceptDrops(true);
    m_listView->viewport()->setAcceptDrops(true);
    m_listView->setDropIndicatorShown(false);
    m_listView->setDragEnabled(true); // rows moved by hand; dropped on the list alone
    m_rowActions = new RowActions(*m_session, *m_listView, this);
    m_rowActions->bindMenu(*m_pop);
    m_tagWindows = new TagWindows(*m_session, *m_listView, this);
    m_tagWindows->bindMenu(*m_pop);
    m_listView->header()->setSectionsClickable(true);
    m_listView->header()->setSortIndicatorShown(false);
    connect(m_listView->header(), &QHeaderView::sectionClicked, this,
        [this](int section) { commands()->ColumnClick(section); });
    connect(m_listView, &QTreeView::clicked, this, [this](const QModelIndex &index) {
        if (index.isValid())
            commands()->ItemClick(index.row() + 1);
    });

    auto connectMenu = [this](const char *name, auto slot) {
        if (QAction *a = findChild<QAction *>(QString::fromUtf8(name)))
            connect(a, &QAction::triggered, this, slot);
    };
    connectMenu("All_Check", [this] { commands()->All_Check(); });
    connectMenu("Lst_Cancel", [this] { commands()->Lst_Cancel(); });
    connectMenu("List_Clear", [this] { commands()->List_Clear(); });
    connectMenu("listRemove", [this] { removeSelectedRows(); });
    connectMenu("shortcutList", [this] { showShortcutTable(this); });
    connectMenu("Save_m3u", [this] { commands()->Save_m3u(); });
    connectMenu("Csv_Save", [this] { commands()->Csv_Save(); });
    // ReplayGain of the selected rows, else of the checked ones, in a window of its own.
    QAction *measure = m_pop->addAction(QStringLiteral("ReplayGain を計測"));
    measure->setObjectName(QStringLiteral("replayGainScan"));
    connect(measure, &QAction::triggered, this, [this] {
        QList<int> rows = selectedRows(*m_listView);
        if (rows.isEmpty())
            for (int row = 1; row <= playlist()->rowCount(); ++row)
                if (playlist()->isChecked(row))
                    rows.append(row);
        openReplayGainWindow(this, *playlist(), rows, m_session->context().api);
    });
    connectMenu("Option_Call", [this] { openOptions(); });
    connectMenu("Print_CD", [this] { Toolbar_ButtonClick(QStringLiteral("印刷")); });
    connectMenu("HomePage", [this] { HomePage_Click(*m_session->context().prompter); });
    connectMenu("about", [this] { about_Click(); });
    connectMenu("findRows", [this] { findWindow()->showFind(); });
    connectMenu("Def_Playlist_Set", [this] {
        commands()->Def_Playlist_Set([this](const QString &path, PlaylistCommands::SaveReply reply) {
            m_session->storeStartupPlaylist(path, std::move(reply));
        });
    });
}

FolderSearchWindow *MainWindow::folderSearch()
{
    if (!m_folderSearch)
        m_folderSearch = new FolderSearchWindow(*playlist(), *adder(), *m_session->context().prompter, this);
    return m_folderSearch;
}

FindWindow *MainWindow::findWindow()
{
    if (!m_findWindow) {
        m_findWindow = new FindWindow(*playlist(), this);
        connect(m_findWindow, &FindWindow::chosen, this, [this](int row) {
            // As a double click on that row: it becomes the list's current row first.
            const QModelIndex at = playlist()->index(row - 1, 0);
            m_listView->setCurrentIndex(at);
            m_listView->scrollTo(at);
            commands()->ItemClick(row);
            listViewDblClick();
        });
    }
    return m_findWindow;
}

void MainWindow::SetupColumns()
{
    const QList<PlaylistColumn> columns = PlaylistModel::SetupColumns();
    for (int i = 0; i < columns.size(); ++i)
        m_listView->setColumnWidth(i, twipsToPx(columns[i].widthTwips));
    // The first column also holds the check box: keep "10000" readable beside it.
    const int numberWidth = m_listView->fontMetrics().horizontalAdvance(QStringLiteral("10000"))
        + m_listView->style()->pixelMetric(QStyle::PM_IndicatorWidth) + 16;
    m_listView->setColumnWidth(0, std::max(m_listView->columnWidth(0), numberWidth));
}

void MainWindow::listViewDblClick()
{
    const PlaylistCommands::Pick pick = commands()->DblClick();
    controller()->playRow(pick.row, pick.path);
}

void MainWindow::buildControls()
{
    buildToolbar();
    buildReadOuts();
    buildModeLabels();
    m_seekbar = new SeekBar(this);
    m_seekbar->setGeometry(twipsRect(1890, 1230, 1890, 150));
    m_seekbar->setRange(0, 0);
    buildTabs();
    buildVolumeSlider();
    // A right click on a read-out opens the pop-up menu (the lyrics lines and the list
    // view are filtered where they are built).
    const QList<QWidget *> popupSources { m_lblNumber, m_lblTime, m_lblTime2, m_label6, m_label7, m_lblCodec, m_lblArt,
        m_lblTitle, m_wavebox };
    for (QWidget *w : popupSources)
        w->installEventFilter(this);
    m_lyricsBox->installEventFilter(this); // the lyrics view's own menu
}

void MainWindow::buildToolbar()
{
    m_toolbar = new QToolBar(this);
    m_toolbar->setObjectName(QStringLiteral("Toolbar"));
    m_toolbar->setGeometry(twipsRect(0, 0, 5730, 360));
    m_toolbar->setMovable(false);
    m_toolbar->setFloatable(false);
    m_toolbar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    m_toolbar->setContentsMargins(0, 0, 0, 0);
    m_toolbar->installEventFilter(this);
    connect(m_toolbar, &QToolBar::actionTriggered, this,
        [this](QAction *action) { Toolbar_ButtonClick(action->data().toString()); });
}

void MainWindow::buildReadOuts()
{
    m_shape2 = new QWidget(this);
    m_shape2->setObjectName(QStringLiteral("Shape2"));
    m_shape2->setGeometry(twipsRect(30, 375, 5700, 1065));
    m_shape2->setAutoFillBackground(true);
    QPalette black = m_shape2->palette();
    black.setColor(QPalette::Window, Qt::black);
    m_shape2->setPalette(black);
    // A shape is no window: clicks on it land on the form.
    m_shape2->setAttribute(Qt::WA_TransparentForMouseEvents);

    const struct {
        QLabel *MainWindow::*member; // nullptr: the "/" between the times, kept by no member
        const char *name;
        const char *text;
        QRect twips;
        QColor color;
        QFont font;
    } labels[] = {
        // Wide enough for "No.1234" (the classic 360 twips cut "No.17" to "No.1").
        { &MainWindow::m_lblNumber, "Lbl_Number", "N0.1", { 150, 450, 840, 195 }, kOrange, terminalFont(9.75) },
        { &MainWindow::m_lblTime, "lblTime", "00:00", { 1020, 480, 375, 120 }, kGreen, terminalFont(6) },
        { nullptr, "Label16", "/", { 1440, 420, 120, 225 }, Qt::white, font() },
        { &MainWindow::m_lblTime2, "lbl_time2", "00:00", { 1620, 480, 375, 120 }, kGreen, terminalFont(6) },
        { &MainWindow::m_label6, "Label6", "000 kb/s ", { 2100, 480, 675, 120 }, kOrange, terminalFont(6) },
        { &MainWindow::m_label7, "Label7", "000 KHz ", { 2790, 480, 600, 120 }, kOrange, terminalFont(6) },
        // The codec of what plays, in the free space before the volume.
        { &MainWindow::m_lblCodec, "lbl_codec", "", { 3405, 480, 990, 120 }, kOrange, terminalFont(6) },
        { &MainWindow::m_lblVol, "Lbl_Vol", "Vol -", { 4410, 450, 1215, 120 }, kOrange, terminalFont(6, true) },
        { &MainWindow::m_lblArt, "lbl_art", "Artist", { 150, 690, 3165, 255 }, QColor(255, 192, 128),
            gothicFont(9.75, true) },
        { &MainWindow::m_lblTitle, "lbl_title", "Title", { 150, 930, 3165, 255 }, QColor(128, 255, 255),
            gothicFont(9.75, true) },
    };
    for (const auto &l : labels) {
        QLabel *label = makeLabel(l.name, QString::fromUtf8(l.text), l.twips, l.color, l.font, this);
        if (l.member)
            this->*l.member = label;
    }
    // "/" and the volume read-out open no pop-up menu, not even the window's own.
    for (QWidget *w : { findChild<QWidget *>(QStringLiteral("Label16")), static_cast<QWidget *>(m_lblVol) })
        w->setAttribute(Qt::WA_NoMousePropagation);

    m_wavebox = new WaveBox(this);
    m_wavebox->setGeometry(twipsRect(4260, 720, 1300, 700));
    m_wavebox->setHeightTwips(700);
}

void MainWindow::buildModeLabels()
{
    const struct {
        ClickLabel *MainWindow::*member;
        const char *name;
        const char *text;
        QRect twips;
        const char *toolTip;
        void (MainWindow::*clicked)();
    } labels[] = {
        { &MainWindow::m_label15, "Label15", "Repeat-on", { 120, 1200, 810, 195 }, "Click : リピート再生ＯＮ・ＯＦＦ",
            &MainWindow::Label15_Click },
        { &MainWindow::m_label5, "Label5", "Normal", { 1170, 1200, 540, 195 }, "Click : 再生ＭＯＤＥの変更",
            &MainWindow::label5Click },
    };
    for (const auto &l : labels) {
        auto *label = new ClickLabel(QString::fromUtf8(l.text), this);
        label->setObjectName(QString::fromUtf8(l.name));
        label->setGeometry(pxRect(l.twips));
        label->setFont(terminalFont(9.75));
        label->setToolTip(QString::fromUtf8(l.toolTip));
        QPalette pal = label->palette();
        pal.setColor(QPalette::WindowText, kOrange);
        pal.setColor(QPalette::Disabled, QPalette::WindowText, QColor(128, 128, 128));
        label->setPalette(pal);
        label->setAttribute(Qt::WA_NoMousePropagation);
        connect(label, &ClickLabel::clicked, this, l.clicked);
        this->*l.member = label;
    }
}

void MainWindow::buildTabs()
{
    m_tab = new TabControl(this);
    m_tab->setObjectName(QStringLiteral("SSTab1"));
    m_tab->setGeometry(twipsRect(60, 1500, 5625, 2895));
    m_tab->setAttribute(Qt::WA_NoMousePropagation);
    // Compact tabs, so that the "File Search" button fits beside them.
    m_tab->tabBar()->setFont(gothicFont(9, false));
    m_tab->tabBar()->setStyleSheet(QStringLiteral("QTabBar::tab { padding: 3px 7px; }"));
    QWidget *lyricsPage = m_tab->addPage(QStringLiteral("Lyrcs View"));
    QWidget *filesPage = m_tab->addPage(QStringLiteral("Files"));

    m_lyricsBox = new QWidget(lyricsPage);
    m_lyricsBox->setObjectName(QStringLiteral("LyricsBox"));
    m_lyricsBox->setGeometry(twipsRect(60, 390, 5490, 2490));
    m_lyricsBox->setAutoFillBackground(true);
    QPalette navy = m_lyricsBox->palette();
    navy.setColor(QPalette::Window, QColor(0, 0, 128));
    m_lyricsBox->setPalette(navy);
    m_lyricsBox->setAttribute(Qt::WA_NoMousePropagation);
    // The cover of a track without lyrics lies under the lines.
    m_coverLabel = new QLabel(m_lyricsBox);
    m_coverLabel->setObjectName(QStringLiteral("lyricsCover"));
    m_coverLabel->setAlignment(Qt::AlignCenter);
    m_coverLabel->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_coverLabel->hide();
    const int kasiTop[5] = { 60, 536, 1012, 1488, 1965 };
    for (int i = 0; i < 5; ++i) {
        const QByteArray name = "lbl_kasi(" + QByteArray::number(i) + ")";
        m_kasi[i] = makeLabel(name.constData(), QString(), QRect(30, kasiTop[i], 5355, 345), Qt::white,
            i == 2 ? gothicFont(12, true, true) : font(), m_lyricsBox);
        m_kasi[i]->installEventFilter(this);
    }

    m_listView = new QTreeView(filesPage);
    m_listView->setObjectName(QStringLiteral("ListView"));
    m_listView->setGeometry(twipsRect(60, 360, 5520, 2505));
    m_listView->setRootIsDecorated(false);
    m_listView->setUniformRowHeights(true);
    m_listView->setAllColumnsShowFocus(true);
    m_listView->setFont(gothicFont(9, false));
    m_listView->viewport()->installEventFilter(this);
    m_listView->installEventFilter(this);

    auto *command2 = new QPushButton(QStringLiteral("File Search"), filesPage);
    command2->setObjectName(QStringLiteral("Command2"));
    command2->setGeometry(twipsRect(2040, 60, 1545, 285));
    m_command2 = command2;
    connect(command2, &QPushButton::clicked, this, [this] { folderSearch()->openModal(); });
    m_seekbar->installEventFilter(this);
}

void MainWindow::buildVolumeSlider()
{
    // The slider lies over the right end of the toolbar.
    m_slider = new QSlider(Qt::Horizontal, this);
    m_slider->setObjectName(QStringLiteral("Slider1"));
    m_slider->setGeometry(twipsRect(4350, 90, 1380, 255));
    m_slider->setRange(0, 65535);
    m_slider->setPageStep(4096);
    m_slider->setAttribute(Qt::WA_NoMousePropagation); // a right click opens no pop-up menu
    m_slider->raise();
    connect(m_slider, &QSlider::actionTriggered, this, [this](int) {
        // actionTriggered reports the value about to be set: apply it once it is.
        QMetaObject::invokeMethod(
            this, [this] { slider1Change(m_slider->value()); }, Qt::QueuedConnection);
    });
    connect(m_slider, &QSlider::sliderMoved, this, &MainWindow::slider1Change);
}

void MainWindow::buildPopupMenu()
{
    m_pop = makePopupMenu(this);
    m_repeatSet = m_pop->findChild<QAction *>(QStringLiteral("repeat_set"));
    connect(m_repeatSet, &QAction::triggered, this, [this] {
        // The action toggled its own check already; the handler owns the state.
        m_repeatSet->setChecked(!m_repeatSet->isChecked());
        repeatSetClick();
    });
}

void MainWindow::about_Click()
{
    // Built anew for each opening and gone when it closes: its load steps run every time.
    AboutWindow frmAbout(m_session->context().api.getVersion, applicationIcon(64), this);
    m_frmAbout = &frmAbout;
    frmAbout.exec();
}

void MainWindow::setWindowSizeTwips(int widthTwips, int heightTwips)
{
    resize(clientPxOfWindowTwips(widthTwips, heightTwips));
    Form_Resize();
}

void MainWindow::SetupToolbar()
{
    m_session->loadSettingsForToolbar();
    m_toolbar->clear();
    const int size = settings().Op_09 == 1 ? 20 : 14;
    m_toolbar->setIconSize(QSize(size, size));
    struct Button {
        const char *key;
        int image; // 1-based index into the image list
        const char *tip;
    };
    static const Button buttons[] = {
        { "終了", 6, "終了" },
        { nullptr, 0, nullptr },
        { "前曲", 1, "前曲" },
        { "再生", 2, "再生" },
        { "一時", 3, "一時停止" },
        { "停止", 4, "停止" },
        { "次曲", 5, "次曲" },
        { nullptr, 0, nullptr },
        { "設定", 8, "設定" },
        { "変形", 9, "サイズ変更" },
        { "印刷", 10, "ＣＤジャケット" },
    };
    for (const Button &b : buttons) {
        if (!b.key) {
            m_toolbar->addSeparator();
            continue;
        }
        const QString key = QString::fromUtf8(b.key);
        QIcon icon(toolbarIcon(QString::fromUtf8(kToolbarImageKeys[b.image - 1]), size));
        QAction *a = m_toolbar->addAction(icon, QString());
        a->setObjectName(key);
        a->setData(key);
        a->setToolTip(QString::fromUtf8(b.tip));
        // Tab reaches the buttons, and a screen reader says what their pictures show.
        if (QWidget *button = m_toolbar->widgetForAction(a)) {
            button->setFocusPolicy(Qt::TabFocus);
            button->setAccessibleName(QString::fromUtf8(b.tip));
        }
    }
    m_slider->raise();
    arrangeTabOrder();
}

void MainWindow::Form_Resize()
{
    const int W = windowWidthTwips();
    const int H = windowHeightTwips();
    auto setWidth = [](QWidget *w, int twips) { w->resize(twipsToPx(twips), w->height()); };
    auto setHeight = [](QWidget *w, int twips) { w->resize(w->width(), twipsToPx(twips)); };
    m_toolbar->resize(width(), m_toolbar->height());
    setWidth(m_tab, W - 225);
    setWidth(m_lyricsBox, W - 360);
    setWidth(m_listView, W - 325);
    setWidth(m_shape2, W - 150);
    for (QLabel *l : m_kasi)
        setWidth(l, W - 495);
    m_coverLabel->setGeometry(m_lyricsBox->rect());
    if (m_lyricsView)
        m_lyricsView->boxResized();
    if (m_coverLabel->isVisible())
        showCover();
    if (H > kFullHeight) {
        setHeight(m_tab, H - 1920);
        setHeight(m_listView, H - 2310);
    } else {
        setHeight(m_tab, 2895);
        setHeight(m_listView, 2505);
    }
}

void MainWindow::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    Form_Resize();
}

void MainWindow::ToggleCompact()
{
    const int H = windowHeightTwips();
    const int target = H == kCompactHeight ? kFullHeight : H == kFullHeight ? kCompactHeight : kFullHeight;
    setWindowSizeTwips(kStartWidth, target);
}

bool MainWindow::repeatOn() const
{
    return m_repeatSet->isChecked();
}

QString MainWindow::playMode() const
{
    return m_label5->text();
}

void MainWindow::Label15_Click()
{
    controller()->changeSequence([this] {
        if (m_repeatSet->isChecked()) {
            m_repeatSet->setChecked(false);
            m_label15->setText(QStringLiteral("Repeat-off"));
        } else {
            m_repeatSet->setChecked(true);
            m_label15->setText(QStringLiteral("Repeat-on"));
        }
        m_label15->setAccessibleDescription(m_label15->text());
    });
    emit modeChanged();
}

void MainWindow::repeatSetClick()
{
    controller()->changeSequence([this] {
        if (m_repeatSet->isChecked()) {
            m_repeatSet->setChecked(false);
            m_label15->setEnabled(false);
        } else {
            m_repeatSet->setChecked(true);
            m_label15->setEnabled(true);
        }
    });
    emit modeChanged();
}

void MainWindow::label5Click()
{
    controller()->changeSequence([this] {
        m_label5->setText(
            m_label5->text() == QStringLiteral("Normal") ? QStringLiteral("Random") : QStringLiteral("Normal"));
        playbackState().CurrentTrackNo = 1;
        m_label5->setAccessibleDescription(m_label5->text());
    });
    emit modeChanged();
}

void MainWindow::slider1Change(int value)
{
    showVolume(value & 0xFFFF);
    m_session->slider1Change(value);
}

void MainWindow::mixerVolume(uint32_t word)
{
    // The slider shows the right channel, as at start-up; the word is the library's already.
    const int right = static_cast<int>(word >> 16);
    m_slider->setValue(right);
    showVolume(right);
    m_session->mixerVolume(word);
}

void MainWindow::showVolume(int value)
{
    m_lblVol->setText(QStringLiteral("Vol - %1").arg(value));
    m_lblVol->setAccessibleDescription(m_lblVol->text());
}

void MainWindow::Toolbar_ButtonClick(const QString &key)
{
    if (key == QStringLiteral("再生")) {
        controller()->playPressed();
    } else if (key == QStringLiteral("停止")) {
        controller()->StopTrack();
    } else if (key == QStringLiteral("一時")) {
        controller()->PauseResume();
    } else if (key == QStringLiteral("次曲")) {
        controller()->NextTrack();
    } else if (key == QStringLiteral("前曲")) {
        controller()->previousPressed();
    } else if (key == QStringLiteral("変形")) {
        ToggleCompact();
    } else if (key == QStringLiteral("終了")) {
        close();
    } else if (key == QStringLiteral("印刷")) {
        if (BusyGuard())
            return;
        if (!m_print1) {
            m_print1 = new PrintWindow(playlist(), m_session->context().prompter, &settings(), this);
            m_print1->setOptionsHook([this] { openOptions(); });
        }
        m_print1->showModal();
    } else if (key == QStringLiteral("設定")) {
        openOptions();
    }
    // "検索" does nothing.
}

void MainWindow::openOptions()
{
    const PlayerSession::Context &session = m_session->context();
    OptionsWindow::Context ctx { session.api, session.prompter, session.iniPath,
        [this] { return folderSearch()->currentFolder(); },
        [this](const QString &pattern) {
            m_session->setSearchPattern(pattern);
            folderSearch()->setPattern(pattern);
        } };
    m_frmOpt1 = new OptionsWindow(settings(), ctx, this);
    m_frmOpt1->formLoad();
    m_frmOpt1->exec();
    delete m_frmOpt1; // null when the main window went first
    m_session->applyDropRules(); // the option may have changed
}

void MainWindow::showPopup(const QPoint &globalPos)
{
    emit popupShown();
    m_pop->popup(globalPos);
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress && (watched == m_listView || watched == m_seekbar)) {
        using S = KeyBinding::Scope;
        const auto *ke = static_cast<QKeyEvent *>(event);
        const std::optional<KeyCommand> command
            = watched == m_listView ? commandFor(*ke, { S::List, S::Position }) : commandFor(*ke, { S::Position });
        if (command) {
            runKey(*command);
            return true;
        }
    }
    if (watched == m_listView->viewport()) {
        switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::Drop: {
            auto *drag = static_cast<QDropEvent *>(event);
            if (const QList<quint64> ids = PlaylistModel::draggedIds(drag->mimeData());
                !ids.isEmpty() && drag->source() == m_listView) {
                // Rows moved within the list, or queued on the number column.
                drag->setDropAction(Qt::CopyAction); // nothing for the view to remove
                drag->accept();
                if (event->type() == QEvent::Drop)
                    m_rowActions->dropDragged(ids, drag->position().toPoint());
                return true;
            }
            // Files are taken as a copy (or a link), never moved: after a move some file
            // managers delete their own file.
            auto *de = static_cast<QDropEvent *>(event);
            const Qt::DropAction action = de->possibleActions().testFlag(Qt::CopyAction) ? Qt::CopyAction
                : de->possibleActions().testFlag(Qt::LinkAction)                         ? Qt::LinkAction
                                                                                         : Qt::IgnoreAction;
            if (action == Qt::IgnoreAction || !de->mimeData()->hasUrls()) {
                de->ignore();
                return true;
            }
            de->setDropAction(action);
            de->accept();
            if (event->type() == QEvent::Drop)
                commands()->DropFiles(PlaylistCommands::droppedPaths(de->mimeData()));
            return true;
        }
        case QEvent::MouseButtonDblClick:
            // The double click plays the row clicked last, whatever lies under the mouse.
            if (static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
                listViewDblClick();
                return true;
            }
            break;
        default:
            break;
        }
    }
    if (event->type() == QEvent::MouseButtonPress) {
        auto *me = static_cast<QMouseEvent *>(event);
        if (me->button() == Qt::RightButton && m_lyricsView
            && (watched == m_lyricsBox
                || std::find(std::begin(m_kasi), std::end(m_kasi), watched) != std::end(m_kasi))) {
            // The lyrics view's menu: the pop-up menu's items and the view's own.
            emit popupShown();
            m_lyricsView->popup(me->globalPosition().toPoint());
            return true;
        }
        if (me->button() == Qt::RightButton) {
            showPopup(me->globalPosition().toPoint());
            return watched != m_listView->viewport(); // the list still selects under the mouse
        }
    }
    return QWidget::eventFilter(watched, event);
}

void MainWindow::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::RightButton)
        showPopup(event->globalPosition().toPoint());
    QWidget::mousePressEvent(event);
}

bool MainWindow::formLoad()
{
    if (!m_session->claimSingleInstance()) {
        close();
        return false;
    }
    m_session->start();
    resetPlayMode();
    SetupColumns();
    SetupToolbar();
    m_session->loadSettingsAndEqualizer();
    applyStartSize();
    m_session->loadDefaultPlaylist();
    m_session->restoreLastSession();
    presetStartupFolder();
    applySearchPattern();
    playbackState().VideoSizeMode = 1;
    controller()->setDecoderOptions();
    showStartVolume();
    return true;
}

void MainWindow::resetPlayMode()
{
    playbackState().CurrentTrackNo = 1;
    m_label5->setText(QStringLiteral("Normal"));
}

void MainWindow::applyStartSize()
{
    setWindowSizeTwips(kStartWidth, settings().Op_03 == 1 ? kCompactHeight : kFullHeight);
}

void MainWindow::presetStartupFolder()
{
    const Settings &s = settings();
    if (s.Op_07 == 1 && !s.Op_17.isEmpty() && !folderSearch()->presetFolder(TrimNull(s.Op_17)))
        m_session->context().prompter->message(
            QStringLiteral("指定のドライブ及びフォルダがみつかりません。Ｌｏａｄを中止します."));
}

void MainWindow::applySearchPattern()
{
    m_session->setSearchPattern(BuildSearchPattern(settings()));
    folderSearch()->setPattern(searchPattern());
}

void MainWindow::showStartVolume()
{
    const int right = m_session->showStartVolume();
    m_slider->setValue(right);
    showVolume(right);
}

void MainWindow::formUnload()
{
    m_session->shutdown([this] { closeOtherWindows(); });
}

void MainWindow::closeOtherWindows()
{
    m_videoWindow->closeVideo();
    if (m_folderSearch)
        m_folderSearch->close();
    // A modal window open at shutdown (a quit from the desktop's controls) ends its own
    // event loop; left open it would keep the program running without its decoder.
    if (m_frmOpt1)
        m_frmOpt1->close(); // as Cancel
    if (m_print1)
        m_print1->close();
    if (m_frmAbout)
        m_frmAbout->close();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    formUnload();
    event->accept();
}

void MainWindow::showReadOut(ReadOut which, const QString &text)
{
    QLabel *const labels[]
        = { m_lblNumber, m_lblTime, m_lblTime2, m_label6, m_label7, m_lblArt, m_lblTitle, m_lblCodec };
    static_assert(std::size(labels) == kReadOuts);
    labels[static_cast<int>(which)]->setText(text);
    labels[static_cast<int>(which)]->setAccessibleDescription(text);
}

void MainWindow::setSeekRange(int maximum)
{
    m_seekbar->setMaximum(maximum);
    m_seekbar->setMinimum(0);
}

void MainWindow::setSeekValue(int seconds)
{
    if (!m_seekbar->isSliderDown())
        m_seekbar->setValue(seconds);
}

void MainWindow::selectTab(int index)
{
    m_tab->setCurrentIndex(index);
}

void MainWindow::showLyricsLine(int index, const QString &text)
{
    m_kasi[index]->setText(text);
}

void MainWindow::highlightCurrentLine()
{
    QPalette pal = m_kasi[2]->palette();
    pal.setColor(QPalette::WindowText, QColor(255, 255, 0));
    m_kasi[2]->setPalette(pal);
}

void MainWindow::drawSpectrum(const int32_t *first, const int32_t *second)
{
    m_wavebox->DrawSpectrum(first, second);
}

void MainWindow::clearSpectrum()
{
    m_wavebox->clearBox();
}

bool MainWindow::spectrumShown() const
{
    return m_wavebox->isVisible() && !isMinimized();
}

void MainWindow::minimizeForVideo()
{
    m_session->showTrack();
    if (!onWayland())
        showMinimized();
}

void MainWindow::restoreFromVideo()
{
    if (onWayland()) { // never minimised there
        raise();
        activateWindow();
        return;
    }
    showNormal();
}

void MainWindow::buildShortcuts()
{
    for (const KeyBinding &b : keyBindings()) {
        if (b.scope != KeyBinding::Scope::Window)
            continue;
        for (const QKeySequence &keys : b.sequences()) {
            auto *shortcut = new QShortcut(keys, this);
            shortcut->setObjectName(QStringLiteral("key ") + keys.toString(QKeySequence::PortableText));
            connect(shortcut, &QShortcut::activated, this, [this, command = b.command] { runKey(command); });
        }
    }
}

void MainWindow::keyPressEvent(QKeyEvent *event)
{
    if (const std::optional<KeyCommand> command = commandFor(*event, { KeyBinding::Scope::Position }))
        runKey(*command);
    else
        QWidget::keyPressEvent(event);
}

void MainWindow::runKey(KeyCommand command)
{
    using C = KeyCommand;
    const auto press = [this](const char *key) { Toolbar_ButtonClick(QString::fromUtf8(key)); };
    switch (command) {
    case C::Previous:
        return press("前曲");
    case C::Play:
        return press("再生");
    case C::Pause:
        return press("一時");
    case C::Stop:
        return press("停止");
    case C::Next:
        return press("次曲");
    case C::SeekBack:
        return seekBy(-5);
    case C::SeekForward:
        return seekBy(5);
    case C::VolumeUp: // as Page Up on the slider: through its own procedure
        return m_slider->triggerAction(QAbstractSlider::SliderPageStepAdd);
    case C::VolumeDown:
        return m_slider->triggerAction(QAbstractSlider::SliderPageStepSub);
    case C::PlaySelected:
        return playSelectedRow();
    case C::RemoveSelected:
        return removeSelectedRows();
    case C::ToggleChecks:
        return toggleSelectedChecks();
    case C::SelectAll:
        return m_listView->selectAll();
    case C::FolderSearch:
        return static_cast<QPushButton *>(m_command2)->click();
    case C::Find:
        return findWindow()->showFind();
    case C::Options:
        return press("設定");
    case C::Repeat: // a greyed label takes no click
        if (m_label15->isEnabled())
            Label15_Click();
        return;
    case C::PlayMode:
        return label5Click();
    case C::Shortcuts:
        return showShortcutTable(this);
    case C::Quit:
        return press("終了");
    case C::Enqueue:
        return m_rowActions->enqueueSelected();
    case C::StopAfterTrack:
        return m_rowActions->stopAfterTrack();
    case C::MoveRowsUp:
        return m_rowActions->moveSelected(-1);
    case C::MoveRowsDown:
        return m_rowActions->moveSelected(1);
    case C::AddFiles:
        return m_rowActions->addFiles();
    case C::AddFolder:
        return m_rowActions->addFolder();
    case C::EditTags:
        return m_tagWindows->editSelected();
    }
}

bool MainWindow::seekTo(int seconds)
{
    if (m_session->context().api.getState(nullptr) == VBMP3_STOPPED)
        return false;
    seconds = std::clamp(seconds, 0, m_seekbar->maximum());
    m_seekbar->setValue(seconds);
    controller()->seekbarScroll(seconds);
    emit seeked();
    return true;
}

void MainWindow::seekBy(int seconds)
{
    int32_t now = 0;
    m_session->context().api.getState(&now);
    seekTo(now + seconds);
}

void MainWindow::playSelectedRow()
{
    const QList<int> rows = selectedRows(*m_listView);
    const int current = m_listView->currentIndex().row() + 1;
    const int row = rows.contains(current) || rows.isEmpty() ? current : rows.first();
    if (row < 1)
        return;
    commands()->ItemClick(row);
    listViewDblClick();
}

void MainWindow::removeSelectedRows()
{
    const QList<int> rows = selectedRows(*m_listView);
    if (rows.isEmpty())
        return;
    int next = 0;
    controller()->changeSequence(
        [&] { next = PlaylistCommands::removeRows(*playlist(), rows, playbackState().CurrentTrackNo); });
    if (next > 0) // the row that closed the gap: Delete can go on
        selectRow(next);
}

void MainWindow::toggleSelectedChecks()
{
    const QList<int> rows = selectedRows(*m_listView);
    if (rows.isEmpty())
        return;
    const int current = m_listView->currentIndex().row() + 1;
    const bool check = !playlist()->isChecked(rows.contains(current) ? current : rows.first());
    for (int row : rows)
        playlist()->setChecked(row, check);
}

void MainWindow::arrangeTabOrder()
{
    QList<QWidget *> order;
    for (QAction *a : m_toolbar->actions()) {
        if (QWidget *button = m_toolbar->widgetForAction(a); button && !a->isSeparator())
            order.append(button);
    }
    order << m_slider << m_label15 << m_label5 << m_seekbar << m_tab->tabBar() << m_listView << m_command2;
    for (qsizetype i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);
}

void MainWindow::nameForAccessibility()
{
    // What each control is; the read-outs' descriptions follow their texts.
    const std::pair<QWidget *, const char *> names[] = { { m_lblNumber, "曲番号" }, { m_lblTime, "経過時間" },
        { m_lblTime2, "演奏時間" }, { m_label6, "ビットレート" }, { m_label7, "サンプリング周波数" },
        { m_lblVol, "音量表示" }, { m_lblArt, "アーティスト" }, { m_lblTitle, "タイトル" }, { m_label15, "リピート" },
        { m_label5, "再生モード" }, { m_seekbar, "再生位置" }, { m_slider, "音量" }, { m_wavebox, "スペクトラム" },
        { m_listView, "プレイリスト" }, { m_lyricsBox, "歌詞" }, { m_coverLabel, "カバー画像" } };
    for (const auto &[widget, name] : names)
        widget->setAccessibleName(QString::fromUtf8(name));
    for (QLabel *label : { m_lblNumber, m_lblTime, m_lblTime2, m_label6, m_label7, m_lblVol, m_lblArt, m_lblTitle,
             static_cast<QLabel *>(m_label15), static_cast<QLabel *>(m_label5) })
        label->setAccessibleDescription(label->text());
    for (int i = 0; i < 5; ++i)
        m_kasi[i]->setAccessibleName(QStringLiteral("歌詞 %1").arg(i + 1));
    m_seekbar->setFocusPolicy(Qt::TabFocus);
}

void MainWindow::selectRow(int row)
{
    m_listView->selectionModel()->setCurrentIndex(
        playlist()->index(row - 1, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void MainWindow::trackShown(int row)
{
    if (row > 0) // the selection stays where the user left it
        m_listView->scrollTo(playlist()->index(row - 1, 0), QAbstractItemView::EnsureVisible);
    showCover();
}

void MainWindow::showCover()
{
    const CoverArt::Cover &cover = coverArt()->current();
    const bool shown
        = !controller()->lyricsOn() && !cover.image.isNull() && cover.trackPath == playbackState().CurrentFile;
    if (shown) {
        const QSize box = m_lyricsBox->size();
        m_coverLabel->setGeometry(m_lyricsBox->rect());
        m_coverLabel->setPixmap(
            QPixmap::fromImage(cover.image).scaled(box, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    }
    m_coverLabel->setVisible(shown);
}

} // namespace kes
