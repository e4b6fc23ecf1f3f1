/* A shared library that loads like libkalvex but exports none of its kernels. */
int kalvex_without_kernels(void)
{
    return 0;
}
