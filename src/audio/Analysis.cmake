# bopling_audio: Analyzer, Snapshot, FileFeeder.
