#include "videowindowpresenter.h"

namespace kes
{

VideoWindowPresenter::VideoWindowPresenter(const VideoWindow::Context &context, QObject *parent)
    : QObject(parent)
    , m_context(context)
{
}

VideoWindowPresenter::~VideoWindowPresenter() = default;

void VideoWindowPresenter::showVideo()
{
    if (!m_window) {
        // A window of its own, not the main window's child: it stays up while the main
        // window is minimised.
        m_window = std::make_unique<VideoWindow>(m_context);
        connect(m_window.get(), &VideoWindow::unloaded, this, &VideoWindowPresenter::closed);
        connect(m_window.get(), &VideoWindow::unloaded, this, &VideoWindowPresenter::stateChanged);
        connect(
            m_window->mediaPlayer(), &QMediaPlayer::playbackStateChanged, this, &VideoWindowPresenter::stateChanged);
    }
    m_window->formLoad();
    emit stateChanged();
}

void VideoWindowPresenter::closeVideo()
{
    if (m_window && m_window->isVisible())
        m_window->close();
}

} // namespace kes
