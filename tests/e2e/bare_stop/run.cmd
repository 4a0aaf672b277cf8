PROC TITLE Before a bare stop;
STOP;
PROC TITLE never read;
