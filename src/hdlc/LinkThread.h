#pragma once

#include "ThreadMessages.h"

class CHDLCPrimary;
class CMainDataStore;
class CRS485SerialPort;

// The link thread's whole life: open the chosen port, serve the link until the
// stop flag is raised, close the port on the way out.
void LinkThread(CHDLCPrimary& link, CRS485SerialPort& port, CMainDataStore& context,
                ThreadId self);
