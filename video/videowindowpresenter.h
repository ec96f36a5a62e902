// The video presenter the program installs: creates the video window on its first use and
// keeps it for the rest of the process.  GUI thread only.
#pragma once

#include "videopresenter.h"
#include "videowindow.h"

#include <QObject>

#include <memory>

namespace kes
{

class VideoWindowPresenter : public QObject, public VideoPresenter
{
    Q_OBJECT
public:
    explicit VideoWindowPresenter(const VideoWindow::Context &context, QObject *parent = nullptr);
    ~VideoWindowPresenter() override;

    void showVideo() override;
    void closeVideo() override;
    // nullptr until the first showVideo.
    VideoWindow *window() const { return m_window.get(); }

signals:
    // The window closed; VideoHandBack and VideoFile tell what was handed back.
    void closed();
    // The window opened, closed, or its player started, paused or stopped.
    void stateChanged();

private:
    VideoWindow::Context m_context;
    std::unique_ptr<VideoWindow> m_window;
};

} // namespace kes
