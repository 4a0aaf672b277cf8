PROC TITLE Abundance that rests on no probability;
/* Period 1 has one secondary occasion: the data hold no information on
   its capture probability. */
PROC MODEL NPAR=8 PRIMARY N = 2 SECONDARY = 1 2;
LABELS;
 S(1)=p  period 1 occasion 1;
 S(2)=p  period 2 occasion 1;
 S(3)=p  period 2 occasion 2;
 S(4)=c  period 2 occasion 2;
 S(5)=phi  survival 1 to 2;
 S(6)=gamma'' unavailable in 2;
 S(7)=theta period 1;
 S(8)=theta period 2;
 COHORT=116;
  116 : S(1);
    0 : never caught;
 COHORT=65;
  10 : S(2)*S(4);
  15 : S(2)*(1-S(4));
  40 : (1-S(2))*S(3);
   0 : never caught;
 COHORT=47;
  12 : S(2)*S(4);
  10 : S(2)*(1-S(4));
  25 : (1-S(2))*S(3);
   0 : never caught;
 COHORT=116;
  35 : S(5)*(1-S(6));
PROC ESTIMATE NAME=ONE OCCASION DERIVED NOVAR;
 CONSTRAINT;
  S(4)=S(3); S(6)=0; S(7)=1; S(8)=1;
PROC ESTIMATE NAME=CONSTANT P DERIVED NOVAR;
 CONSTRAINT;
  S(4)=S(3); S(3)=S(2); S(6)=0; S(7)=1; S(8)=1;
/* The capture probability of period 2, occasion 2 fixed below 0, then
   above 1 (S(2) stays positive: a negative value there would switch to
   the power variant). */
PROC ESTIMATE NAME=P BELOW ZERO DERIVED NOVAR;
 CONSTRAINT;
  S(1)=0.5; S(3)=-0.5; S(6)=0; S(7)=1; S(8)=1;
PROC ESTIMATE NAME=P ABOVE ONE DERIVED NOVAR;
 CONSTRAINT;
  S(1)=0.5; S(3)=1.5; S(6)=0; S(7)=1; S(8)=1;
PROC TEST AVERAGE;
PROC STOP;
