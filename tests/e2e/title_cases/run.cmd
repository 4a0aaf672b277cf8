PROC TITLE Spring survey 1990;
proc title lower-case keyword;
Proc Title Mixed case keyword;
PROC TITLE This title is longer than ninety characters, so the part beyond
 column ninety is cut away when it is stored;
PROC TITLE;
PROC STOP;
