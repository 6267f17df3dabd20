; Stands in for a game: leaves PLAYED.TXT where it was started.
%define RESULT_FILE 'PLAYED.TXT'
%define RESULT_TEXT 'THE GAME RAN'
%include "writefile.inc"
