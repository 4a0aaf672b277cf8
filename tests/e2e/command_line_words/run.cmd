PROC TITLE From words on the command line;
PROC STOP;
