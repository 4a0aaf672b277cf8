/* Quorvale example command file.  Run it with:  make run            */
PROC TITLE Example analysis of a robust-design capture-recapture study;
PROC STOP;
