#pragma once

namespace kvq::ui {

// Every text the dialogs show, exactly as the user sees it: the blanks before
// and after some of them are part of the text.

namespace ui_text {

// The status list's notice when another actuator answers than the one before.
inline constexpr const char* AnotherActuator = "ANOTHER ACTUATOR";

// Title of the main window.
inline constexpr const char MainTitle[] =
    "Torvin E-VLX400 Configuration Tool            Version 1.3.1";
// The one-time report on the port opened at start; %d is the port number.
inline constexpr const char PortStartedText[] =
    "   Communication has been started on serial port %d.         ";
// After a successful change of port; %d is the port number.
inline constexpr const char PortChangedText[] =
    "   Communication has been changed to serial port %d.         ";
inline constexpr const char PortSuccessCaption[] = "Serial Port Success";
inline constexpr const char PortProblemText[] = "   Problem opening port?";
inline constexpr const char PortProblemCaption[] = "Serial Port Problem";
inline constexpr const char NoPortText[] =
    "Warning! no serial ports are available, this program will now exit.    ";
inline constexpr const char NoPortCaption[] = "Serial Port Error";
inline constexpr const char NoTableText[] = "No Antenna Table File Found!";
inline constexpr const char NoTableCaption[] = "Antenna Table Error";
// Status line 1 when the chosen model is not in the table.
inline constexpr const char AntennaNotFound[] = "ANTENNA NOT FOUND";
inline constexpr const char PortClosedWord[] = "Port closed?";
inline constexpr const char ConnectedWord[] = "Connected";
inline constexpr const char DisconnectedWord[] = "Disconnected";
// Boxes about the actuator's software.
inline constexpr const char FirmwareFileCaption[] = "Firmware File Error";
inline constexpr const char UpdateNotTakenCaption[] = "Software Update Failed";
// Asked before closing while the actuator's work would be cut short; No is the default.
inline constexpr const char CloseCaption[] = "Close Configuration Tool";
inline constexpr const char CloseDuringDownload[] =
    "The actuator is updating its software. Closing now leaves it without working software. "
    "Close anyway?";
inline constexpr const char CloseDuringModelChange[] =
    "The actuator is changing its antenna model. Closing now leaves it with a half-written "
    "configuration. Close anyway?";
inline constexpr const char CloseDuringConversion[] =
    "The actuator is being switched back to Ericsson mode. Closing now leaves it answering only "
    "in AISG mode. Close anyway?";
inline constexpr const char CloseDuringMove[] =
    "The actuator is moving to a new tilt. Closing now leaves its tilt unchecked and the move "
    "unconfirmed. Close anyway?";
// The box listing what the antenna table reader did not take as written.
inline constexpr const char TableWarningsCaption[] = "Antenna Table Warnings";
// Communication > Save Line Trace...: the menu item, its file dialog and its box.
inline constexpr const char SaveLineTraceItem[] = "Save Line Trace...";
inline constexpr const char SaveLineTraceCaption[] = "Save Line Trace";
inline constexpr const char SaveLineTraceFilter[] = "Line traces (*.txt);;All files (*)";
inline constexpr const char SaveLineTraceFailed[] = "The line trace could not be saved: ";
// Set Tilt with a typed value the tool cannot send.
inline constexpr const char TiltEntryCaption[] = "Requested Tilt";
inline constexpr const char AboutTitle[] = "About Torvin RDQX";
inline constexpr const char AboutProduct[] =
    "This is the Torvin Ericsson-compatible actuator Quellmark (RDQX).  ";
inline constexpr const char AboutUse[] =
    "For use with E-VLX200-002 (Ericsson-compatible) actuators only.  "
    "For use with Torvin PQN100-LITE protocol adapter only.  "
    "Do not use with AISG- or 3GPP-compatible actuators.  ";
inline constexpr const char AboutCompliance[] =
    "Complies with 1/155 19-CBA 160 267/Uen, 2004-03-22, and other Ericsson specifications.";
inline constexpr const char AboutOneActuator[] =
    "Please connect only one actuator at a time, addressed to address 14 (hexadecimal).";
inline constexpr const char AboutVersion[] = "Version 1.3.1      Build Date: 29-June-2011";

}  // namespace ui_text

}  // namespace kvq::ui
