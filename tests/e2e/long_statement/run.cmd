PROC TITLE Long statements and comments are echoed in pieces of at most sixty
  characters, cut at a blank where one is found;
PROC /* a comment ends its echo line */ TITLE after the comment;
PROC TITLE
 ABCDEFGHIJKLMNOPQRSTUVWXYZABCDEFGHIJKLMNOPQRSTUVWXYZABCDEFGHIJKLMNOPQRSTUVWXYZA
BCDEFGHIJKLMNOPQRSTUVWXYZABCDEFGHIJKLMNOPQRSTUVWXYZABCDEFGHIJKLMNOPQRST;
PROC TITLE comment at the end /* note */;
PROC STOP;
