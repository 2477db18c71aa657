/*
 * The named objects through which "Quarvel.exe" ends the running stand-in
 * clients of the user's session.
 *
 * Every client holds a handle to the stop event, a manual-reset event that
 * "Quarvel.exe" signals, and to the presence mutex, which exists exactly as
 * long as some client holds it: once it is gone, no client is left.
 */
#pragma once

#define TOLVO_CLIENT_STOP_EVENT L"Local\\TolvoClientStop"
#define TOLVO_CLIENT_PRESENCE_MUTEX L"Local\\TolvoClientRunning"
