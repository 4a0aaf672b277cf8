PROC TITLE Option words the procedures do not know;
/* NORMALISE is not an option: PROC MODEL knows NORMALIZE. */
PROC MODEL NPAR=10 PRIMARY N = 2 SECONDARY = 2 2 NORMALISE;
LABELS;
 S(1)=p  period 1 occasion 1;
 S(2)=p  period 1 occasion 2;
 S(3)=c  period 1 occasion 2;
 S(4)=p  period 2 occasion 1;
 S(5)=p  period 2 occasion 2;
 S(6)=c  period 2 occasion 2;
 S(7)=phi  survival 1 to 2;
 S(8)=gamma'' unavailable in 2;
 S(9)=theta period 1;
 S(10)=theta period 2;
 COHORT=85;
  30 : S(1)*S(3);
  20 : S(1)*(1-S(3));
  35 : (1-S(1))*S(2);
   0 : never caught;
 COHORT=65;
  10 : S(4)*S(6);
  15 : S(4)*(1-S(6));
  40 : (1-S(4))*S(5);
   0 : never caught;
 COHORT=47;
  12 : S(4)*S(6);
  10 : S(4)*(1-S(6));
  25 : (1-S(4))*S(5);
   0 : never caught;
 COHORT=100;
  35 : S(7)*(1-S(8));
/* Without the power variant the exponents S(9) and S(10) reach no cell. */
PROC IDENTIFIABLE ADD = 0.1 MULTIPLE = 1.2;
 CONSTRAINT;
  S(3)=S(2); S(6)=S(5); S(8)=0; S(9)=1; S(10)=1;
/* A mistyped NSIG after a name: the name takes its first 10 columns, the
   option is not applied. */
PROC ESTIMATE NAME=RANDOM NISG=5;
 CONSTRAINT;
  S(3)=S(2); S(6)=S(5); S(8)=0; S(9)=1; S(10)=1;
/* Three words of a name are a name, not options. */
PROC ESTIMATE NAME=NO TEMPORARY EMIGRATION NOVAR;
 CONSTRAINT;
  S(3)=S(2); S(6)=S(5); S(8)=0; S(9)=1; S(10)=1;
PROC TEST SORTBY AICC AVRAGE;
PROC SIMULATE NSIM=2 SEEED=3 NAME=GENERATING;
 CONSTRAINT; S(3)=S(2); S(6)=S(5); S(8)=0; S(9)=1; S(10)=1;
 INITIAL; S(1)=0.4; S(2)=0.5; S(4)=0.6; S(5)=0.3; S(7)=0.7;
PROC ESTIMATE NAME=SUBMODEL MAXFM=50;
 CONSTRAINT; S(3)=S(2); S(6)=S(5); S(8)=0; S(9)=1; S(10)=1;
PROC STOP;
