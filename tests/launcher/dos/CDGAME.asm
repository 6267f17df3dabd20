; Stands in for a game that runs from its CD: the disc cannot be written, so
; it leaves CDRAN.TXT on drive C.
%define RESULT_FILE 'C:\CDRAN.TXT'
%define RESULT_TEXT 'THE CD GAME RAN'
%include "writefile.inc"
