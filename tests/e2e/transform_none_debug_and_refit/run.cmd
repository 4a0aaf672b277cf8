PROC TITLE Simulation of a two-period robust design;
PROC MODEL NPAR=10 ADDCELL;
LABELS;
  S(1)=p  capture, period 1 occasion 1;
  S(2)=p  capture, period 1 occasion 2;
  S(3)=c  recapture, period 1 occasion 2;
  S(4)=p  capture, period 2 occasion 1;
  S(5)=p  capture, period 2 occasion 2;
  S(6)=c  recapture, period 2 occasion 2;
  S(7)=phi  survival, period 1 to 2;
  S(8)=gamma'' unavailable in 2;
  S(9)=theta  period 1;
  S(10)=theta  period 2;
 COHORT = 100 /* period 1 */;
   30 : S(1)*S(2);
   20 : S(1)*(1-S(2));
   25 : (1-S(1))*S(2);
 COHORT = 120 /* period 2, first caught */;
   30 : S(4)*S(6);
   20 : S(4)*(1-S(6));
   25 : (1-S(4))*S(5);
 COHORT = 60 /* period 2, released in period 1 */;
   20 : S(4)*S(6);
   15 : S(4)*(1-S(6));
   10 : (1-S(4))*S(5);
 COHORT = 100 /* released after period 1 */;
   60 : S(7)*(1-S(8));
/* Without a transform the start values are the parameters themselves: the
   DEBUG map shows S(I) equal to PAR. A simulation's generating model given
   without a transform generates from the values as given. A refit starts
   from its set-up's saved values read as working values, whatever that
   set-up's TRANSFORM option. */
PROC ESTIMATE DEBUG NAME=NONE TRANSFORM=NO NOVAR;
 CONSTRAINT; S(3)=S(2); S(6)=S(5); S(8)=0; S(9)=1; S(10)=1;
 INITIAL; S(1)=0.4; S(2)=0.5; S(4)=0.6; S(5)=0.3; S(7)=0.7;
PROC SIMULATE NSIM=1 DETAIL TRANSFORM=NONE;
 CONSTRAINT; S(3)=S(2); S(6)=S(5); S(8)=0; S(9)=1; S(10)=1;
 INITIAL; S(1)=0.4; S(2)=0.5; S(4)=0.6; S(5)=0.3; S(7)=0.7;
PROC ESTIMATE NAME=NONE TRANSFORM=NO NOVAR;
 CONSTRAINT; S(3)=S(2); S(6)=S(5); S(8)=0; S(9)=1; S(10)=1;
 INITIAL; S(1)=0.4; S(2)=0.5; S(4)=0.6; S(5)=0.3; S(7)=0.7;
PROC STOP;
