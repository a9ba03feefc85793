# bopling_capture: AudioTap and the capture backend interface; bopling_pulse: the libpulse backend.
