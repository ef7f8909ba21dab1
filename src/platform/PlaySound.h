#pragma once
// The sound player: plays a sound file through GStreamer the way the
// multimedia PlaySound call does. One sound at a time for the whole process;
// every call replaces whatever plays.

namespace platform {

// The multimedia flag values. SND_NODEFAULT and SND_FILENAME are accepted
// for their callers' sake: the sound is always a file name and no default
// sound is ever played in place of a missing one.
constexpr unsigned SND_SYNC = 0x0000;
constexpr unsigned SND_ASYNC = 0x0001;
constexpr unsigned SND_NODEFAULT = 0x0002;
constexpr unsigned SND_LOOP = 0x0008;
constexpr unsigned SND_FILENAME = 0x20000;

// Any thread; the latest call wins. The sound plays on the player's own
// thread: no call waits for the audio sink to start or stop.
// file nullptr or "": stops the sound, returns true.
// Otherwise stops the sound and starts `file`. A file that is missing or not
// a file, or a sink description that cannot be built, returns false at once
// with one line on stderr, and nothing plays. SND_ASYNC returns true as soon
// as the sound is handed to the player; one that then cannot be decoded or
// played ends by itself with one line on stderr. SND_LOOP repeats it without
// a gap until the next call (SND_LOOP implies SND_ASYNC: a looping sound
// never ends by itself); without either, returns when the sound has ended
// (false if it could not be played) or has been stopped by another call.
// The audio sink is the GStreamer bin description in OCULARA_AUDIO_SINK,
// read at each call; "autoaudiosink" when unset or empty.
bool PlaySound(const char* file, unsigned flags);

// Stops the sound and joins the player's thread. The player is still
// usable afterwards; the process's exit does the same by itself.
void ShutdownSound();

// For tests. Any thread.
// True from a call that starts a sound (while the sink is still starting,
// too) until the sound ends, fails or is stopped.
bool SoundPlaying();
// How many times the sound now playing has wrapped round to its start;
// 0 when nothing plays.
unsigned SoundLoopsCompleted();

}  // namespace platform
