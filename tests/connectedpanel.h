#pragma once

#include <QtGlobal>

#include <functional>
#include <memory>

class MainWindow;
class ScriptedPeer;

// A panel connected over loopback TCP to a scripted amplifier, where the tests of what the
// panel sends and shows start: the window made from scratch, shown, and connected by its
// Connect button, with the peer having heard "?" and "Status".
class ConnectedPanel
{
public:
    ConnectedPanel();
    ~ConnectedPanel();

    // `beforeConnect` runs on the window before it connects (to set clocks, say). False
    // when the peer is not reached; the test log says where it stopped.
    bool start(const std::function<void(MainWindow *)> &beforeConnect = {});
    // The window first: it may still write to the peer as it goes.
    void stop();

    MainWindow *window() const { return m_window.get(); }
    ScriptedPeer *peer() const { return m_peer.get(); }
    // Another amplifier for the window's next connection; `other` gets the one before,
    // which stays alive for as long as the test keeps it.
    void swapPeer(std::unique_ptr<ScriptedPeer> &other) { m_peer.swap(other); }

private:
    std::unique_ptr<ScriptedPeer> m_peer;
    std::unique_ptr<MainWindow> m_window;
};
