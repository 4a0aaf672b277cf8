/* Quorvale example: a robust-design study of three primary periods with
   2, 3 and 2 secondary occasions.  The cohorts follow the layout the
   likelihood expects: for each period ip the closed-part cohorts jp = 1..ip
   (capture histories within the period, the never-caught cell completed by
   ADDCELL), then one open-part cohort per release period (first recaptured
   in a later period, the never-recaptured cell is completed likewise). */
PROC TITLE Fits that rest on an impossible point;
PROC MODEL NPAR=19 ADDCELL PRIMARY PERIODS = 3 SECONDARY = 2 3 2
    INTERVALS = 1 1;
LABELS;
  S(1)=p  capture, period 1 occasion 1;
  S(2)=p  capture, period 1 occasion 2;
  S(3)=c  recapture, period 1 occasion 2;
  S(4)=p  capture, period 2 occasion 1;
  S(5)=p  capture, period 2 occasion 2;
  S(6)=p  capture, period 2 occasion 3;
  S(7)=c  recapture, period 2 occasion 2;
  S(8)=c  recapture, period 2 occasion 3;
  S(9)=p  capture, period 3 occasion 1;
  S(10)=p  capture, period 3 occasion 2;
  S(11)=c  recapture, period 3 occasion 2;
  S(12)=phi  survival, period 1 to 2;
  S(13)=phi  survival, period 2 to 3;
  S(14)=gamma'' unavailable in 2 if available in 1;
  S(15)=gamma'' unavailable in 3 if available in 2;
  S(16)=gamma' unavailable in 3 if unavailable in 2;
  S(17)=theta  recapture exponent, period 1;
  S(18)=theta  recapture exponent, period 2;
  S(19)=theta  recapture exponent, period 3;
 COHORT = 200 /* period 1, cohort 1 */;
     76 : S(1)*S(3);
     56 : S(1)*(1-S(3));
     68 : (1-S(1))*S(2);
 COHORT = 103 /* period 2, cohort 1 */;
     12 : S(4)*S(7)*S(8);
     13 : S(4)*S(7)*(1-S(8));
     16 : S(4)*(1-S(7))*S(8);
      8 : S(4)*(1-S(7))*(1-S(8));
     12 : (1-S(4))*S(5)*S(8);
     24 : (1-S(4))*S(5)*(1-S(8));
     18 : (1-S(4))*(1-S(5))*S(6);
 COHORT = 107 /* period 2, cohort 2 */;
      9 : S(4)*S(7)*S(8);
     15 : S(4)*S(7)*(1-S(8));
     17 : S(4)*(1-S(7))*S(8);
     14 : S(4)*(1-S(7))*(1-S(8));
     21 : (1-S(4))*S(5)*S(8);
     13 : (1-S(4))*S(5)*(1-S(8));
     18 : (1-S(4))*(1-S(5))*S(6);
 COHORT = 120 /* period 3, cohort 1 */;
     43 : S(9)*S(11);
     46 : S(9)*(1-S(11));
     31 : (1-S(9))*S(10);
 COHORT = 20 /* period 3, cohort 2 */;
      7 : S(9)*S(11);
      8 : S(9)*(1-S(11));
      5 : (1-S(9))*S(10);
 COHORT = 89 /* period 3, cohort 3 */;
     28 : S(9)*S(11);
     23 : S(9)*(1-S(11));
     38 : (1-S(9))*S(10);
 COHORT = 200 /* released after period 1 */;
   107 : S(12)*(1-S(14));
    20 : S(12)*S(13)*(available in 3);
 COHORT = 210 /* released after period 2 */;
    89 : S(13)*(1-S(15));
/* Three competing models, all with theta fixed at 1 and no behavioural
   response within a period (recapture c equal to capture p). */
/* A low NSIG: the search settles where cells holding animals have
   probability 0, with a log-likelihood above the true maximum. */
PROC ESTIMATE NSIG=1 NAME=RANDOM NSIG1 NOVAR;
 CONSTRAINT;
  S(17)=1; S(18)=1; S(19)=1;
  S(3)=S(2); S(7)=S(5); S(8)=S(6); S(11)=S(10);
  S(15)=S(14); S(16)=S(14);
PROC ESTIMATE NAME=RANDOM CONSTPHI NOVAR;
 CONSTRAINT;
  S(17)=1; S(18)=1; S(19)=1;
  S(3)=S(2); S(7)=S(5); S(8)=S(6); S(11)=S(10);
  S(15)=S(14); S(16)=S(14); S(13)=S(12);
/* A capture probability fixed at 0 that the data contradict. */
PROC ESTIMATE NAME=P4 ZERO NOVAR;
 CONSTRAINT;
  S(17)=1; S(18)=1; S(19)=1; S(4)=0;
  S(3)=S(2); S(7)=S(5); S(8)=S(6); S(11)=S(10);
  S(15)=S(14); S(16)=S(14); S(13)=S(12);
/* No transformation: the search leaves 0..1 and diverges. */
PROC ESTIMATE TRANSFORM=NO NAME=DIVERGED NOVAR;
 CONSTRAINT;
  S(17)=1; S(18)=1; S(19)=1;
  S(3)=S(2); S(7)=S(5); S(8)=S(6); S(11)=S(10);
  S(15)=S(14); S(16)=S(14);
PROC TEST AVERAGE AICSAVE=models.aic;
/* The model file written above is read again. */
PROC ESTIMATE NAME=NO EMIGRATE NOVAR;
 CONSTRAINT;
  S(17)=1; S(18)=1; S(19)=1;
  S(3)=S(2); S(7)=S(5); S(8)=S(6); S(11)=S(10);
  S(14)=0; S(15)=0; S(16)=0;
PROC TEST AICSAVE=models.aic;
PROC STOP;
