; Integer square roots on the 68HC11 by subtracting 1, 3, 5, ...; roots of
; five values to $2000.
        org     $1000
start   lds     #$01FF
        ldx     #values
        ldy     #$2000
next    ldd     0,x
        std     n
        ldd     #1
        std     odd
        clr     0,y
        clr     1,y
try     ldd     n
        subd    odd
        bcs     done            ; a borrow: n < odd
        std     n
        ldd     odd
        addd    #2
        std     odd
        ldd     0,y
        addd    #1
        std     0,y
        bra     try
done    inx
        inx
        iny
        iny
        cpy     #$2000+10
        bne     next
        wai

values  fdb     65535,10000,2,0,50000
        org     $2100
n       rmb     2
odd     rmb     2
