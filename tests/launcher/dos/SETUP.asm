; Stands in for a game's installer: leaves SETUP.TXT where it was started.
%define RESULT_FILE 'SETUP.TXT'
%define RESULT_TEXT 'THE INSTALLER RAN'
%include "writefile.inc"
