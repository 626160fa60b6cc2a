#include "LinkThread.h"

#include "HDLCPrimary.h"
#include "MainDataStore.h"
#include "RS485SerialPort.h"
#include "TimeSource.h"
#include "WorkerThread.h"

namespace {

constexpr std::int32_t EricssonBaud = 115200;
constexpr std::int32_t AisgBaud = 9600;

std::int32_t BaudFor(LinkMode mode) { return mode == LinkMode::Aisg ? AisgBaud : EricssonBaud; }

}  // namespace

void LinkThread(CHDLCPrimary& link, CRS485SerialPort& port, CMainDataStore& context,
                ThreadId self) {
    RaiseCurrentThreadPriority();
    CreateMessageQueue(self);

    // The dialog names the port shortly after start; until then there is nothing to open.
    while (context.SelectedPortName() == "NONE" && !context.StopRequested()) {
        context.PauseUnlessStopped(1000);
    }
    if (!context.StopRequested()) {
        port.Open(context.SelectedPortName(), EricssonBaud);
        context.PauseUnlessStopped(2000);
    }

    bool reopenPending = false;
    while (!context.StopRequested()) {
        SleepMs(5);
        ThreadMessage message;
        if (TakeMessage(self, message)) {
            switch (message.number) {
                case MsgReopenPort:
                    reopenPending = true;
                    break;
                default:
                    // Commands have nowhere to go until the station serves a
                    // secondary; their blocks are freed with the message.
                    break;
            }
        }
        if (reopenPending) {
            port.Close();
            link.FailedAttempts.store(0);
            port.Open(context.SelectedPortName(), BaudFor(link.Mode()));
            reopenPending = false;
        }
    }
    port.Close();
}
